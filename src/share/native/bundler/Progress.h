#ifndef KOVALU_PROGRESS_H
#define KOVALU_PROGRESS_H

#include <chrono>
#include <functional>
#include <string>

/// What the tool says while it works: a line for each long step, with its
/// time when it ends, and warnings. Everything goes to one sink, standard
/// error in the tool; quiet keeps the step lines back.
class Progress {
public:
    using Sink = std::function<void(const std::string&)>;

    /// `sink` receives text as it is to be written (lines end in '\n'; a
    /// step's opening line is completed by a later call).
    Progress(Sink sink, bool quiet) : sink(std::move(sink)), quiet(quiet) {}

    /// One long step: started by `Progress::step`, ended by `done`; a step
    /// left without `done` (an exception) ends its line with "failed".
    class Step {
    public:
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;
        Step(Step&& other) noexcept;
        ~Step();

        /// Ends the step's line with its time ("21.4 s"), or with `result`
        /// followed by " after " and its time.
        void done(const std::string& result = std::string());

    private:
        friend class Progress;
        Step(Progress* owner, std::string what);

        Progress* owner;
        std::string what;
        std::chrono::steady_clock::time_point start;
    };

    /// Starts a step: "WHAT ..." on a line of its own.
    Step step(const std::string& what);

    /// Writes "kovalu-bundle: warning: LINE", quiet or not.
    void warn(const std::string& line);

    /// Writes LINE as it is (an error detail), quiet or not.
    void error(const std::string& line);

    /// A duration as the step lines show it: "0.4 s", "21.4 s", "3 min 12 s",
    /// "1 h 2 min".
    static std::string elapsedText(double seconds);

private:
    void interrupt();
    void write(const std::string& text);

    Sink sink;
    bool quiet;
    Step* open = nullptr; ///< the step whose line waits for its end
};

#endif
