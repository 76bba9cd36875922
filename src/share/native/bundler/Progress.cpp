#include "Progress.h"

#include <cmath>
#include <cstdio>

Progress::Step::Step(Progress* owner, std::string what)
    : owner(owner), what(std::move(what)), start(std::chrono::steady_clock::now()) {}

Progress::Step::Step(Step&& other) noexcept
    : owner(other.owner), what(std::move(other.what)), start(other.start) {
    other.owner = nullptr;
    if (owner && owner->open == &other) {
        owner->open = this;
    }
}

Progress::Step::~Step() {
    if (owner) {
        done("failed");
    }
}

void Progress::Step::done(const std::string& result) {
    if (!owner) {
        return;
    }
    Progress* const p = owner;
    owner = nullptr;
    if (p->quiet) {
        return;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    const std::string time = Progress::elapsedText(took.count());
    const std::string end = result.empty() ? time : result + " after " + time;
    // Another line came between the start and the end: say again what ended.
    p->write(p->open == this ? " " + end + "\n" : what + " ... " + end + "\n");
    if (p->open == this) {
        p->open = nullptr;
    }
}

Progress::Step Progress::step(const std::string& what) {
    interrupt();
    Step s(this, what);
    if (!quiet) {
        write(what + " ...");
        open = &s;
    }
    return s;
}

void Progress::warn(const std::string& line) {
    interrupt();
    write("kovalu-bundle: warning: " + line + "\n");
}

void Progress::error(const std::string& line) {
    interrupt();
    write(line + "\n");
}

void Progress::interrupt() {
    if (open) {
        write("\n");
        open = nullptr;
    }
}

void Progress::write(const std::string& text) {
    sink(text);
}

std::string Progress::elapsedText(double seconds) {
    char text[32];
    if (seconds < 59.95) {
        std::snprintf(text, sizeof text, "%.1f s", seconds < 0 ? 0.0 : seconds);
        return text;
    }
    const long whole = std::lround(seconds);
    if (whole < 3600) {
        std::snprintf(text, sizeof text, "%ld min %ld s", whole / 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld h %ld min", whole / 3600, whole % 3600 / 60);
    }
    return text;
}
