#ifndef KOVALU_OUTPUTCAPTURE_H
#define KOVALU_OUTPUTCAPTURE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "CacheFiles.h"

/// Keeps what this process, and whatever it starts, writes to standard output
/// and error in a file. A collector process does the copying, so output
/// written right before a crash, or before the runtime ends the process
/// itself, still arrives, and exit never waits for a thread of this process.
namespace OutputCapture {

/// Bytes of one launch kept in the file; past them one line says the rest was dropped.
const std::uint64_t maxKeptBytes = 10 * 1024 * 1024;

/// Bytes of standard error that `errorTail` keeps.
const std::size_t maxTailBytes = 4096;

/// The line that ends the kept output once it reaches maxKeptBytes.
std::string droppedLine();

/// Starts the collector writing into `file` and points descriptors 1 and 2
/// at it. False, with nothing changed and `error` set, when it cannot start.
bool start(CacheFiles::FileDescriptor file, std::string& error);

/// The last bytes written to standard error so far (at most maxTailBytes),
/// once the collector has read all of them; empty when nothing is captured or
/// the collector does not answer within a few seconds.
std::string errorTail();

} // namespace OutputCapture

#endif
