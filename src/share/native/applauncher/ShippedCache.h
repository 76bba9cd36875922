#ifndef KOVALU_SHIPPEDCACHE_H
#define KOVALU_SHIPPEDCACHE_H

#include <cstdint>
#include <string>
#include <vector>

class ArchiveStore;

/// The ahead-of-time cache that the bundle tool trains and ships in the
/// bundle ("Contents/app/<launcher>.aot"): mapped read-only ahead of the
/// per-user cache, and set aside for one bundle state when the runtime
/// refuses it. Also the launches through which the tool trains it. Nothing
/// here writes into the bundle, and nothing throws.
namespace ShippedCache {

/// Set only by the bundle tool, to "<step>:<directory>", where <step> is
/// "record", "create" or "check" and the directory is the tool's private one.
extern const char* const trainVariable;

/// One launch of the tool's training.
struct Training {
    enum class Step { None, Record, Create, Check };
    Step step = Step::None;
    std::string dir;
};

/// The training asked for by `trainVariable`, which it removes from this
/// process's environment so that the application never inherits it. A
/// value that names no step or no absolute directory asks for none.
Training takeTraining();

/// "<dir>/<launcherName><suffix>": ".aotconf" (the recording), ".aot" (the
/// cache), ".log" (the runtime's messages) and ".off" (why there is none).
std::string trainingPath(const Training& training, const std::string& launcherName,
                         const std::string& suffix);

/// Why a training step cannot run, empty when it can: the directory must be
/// a directory of this user, and a create step needs a recording.
std::string checkTraining(const Training& training, const std::string& launcherName);

/// The JVM options of a training step; `quiet` keeps the runtime's messages
/// off standard output.
std::vector<std::string> trainingOptions(const Training& training,
                                         const std::string& launcherName,
                                         const std::string& quiet);

/// Leaves `why` where the tool reads it when a training launch takes no cache.
void noteOff(const Training& training, const std::string& launcherName, const std::string& why);

/// True when the shipped cache `path` (a regular file beginning with
/// `magic`) is to be mapped by this launch: not yet refused for the key of
/// `store`. Reads the runtime's messages of the last launch that mapped it
/// and remembers a refusal in "<launcher>-<key>.shipped". Only the store's
/// files are written.
bool mayUse(const std::string& path, const ArchiveStore& store, std::uint32_t magic);

} // namespace ShippedCache

#endif
