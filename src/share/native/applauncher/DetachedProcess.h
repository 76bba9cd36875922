#ifndef KOVALU_DETACHEDPROCESS_H
#define KOVALU_DETACHEDPROCESS_H

#include <string>
#include <vector>

/// Work that goes on after this process has exited.
namespace DetachedProcess {

/// Starts `argv[0]` with `argv` and the environment `env` ("NAME=value"
/// items) as a process of its own: in a new session, not this process's
/// child, its standard streams on the null device, with no descriptor of
/// this process but `keptDescriptor` (when not -1), in the directory
/// `workingDir`. Safe to call while other threads run, at exit included.
/// True when the process was started.
bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
           int keptDescriptor, const std::string& workingDir);

} // namespace DetachedProcess

#endif
