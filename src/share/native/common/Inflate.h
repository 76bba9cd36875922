#ifndef KOVALU_INFLATE_H
#define KOVALU_INFLATE_H

#include <string>

namespace Inflate {

/// The bytes that the raw deflate stream `data` (a zip entry of method 8)
/// stands for; with `limit`, only about that many, enough to tell what a file
/// is without decoding it all. Throws "damaged deflate data" when the stream
/// is malformed or cut short.
std::string inflate(const std::string& data, std::size_t limit = std::string::npos);

} // namespace Inflate

#endif
