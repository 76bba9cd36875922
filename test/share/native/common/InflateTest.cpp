#include "Inflate.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

// Streams that would make a careless decoder read or write out of bounds.
TEST(Inflate, RefusesDamagedStreams) {
    const std::string cases[] = {
        "",
        std::string("\x07", 1),                            // block type 3
        std::string("\x01\x05\x00\xfa\xfe", 5),            // stored: length and complement disagree
        std::string("\x01\x05\x00\xfa\xff" "abc", 8),      // stored: cut short
        std::string("\x03", 1),                            // fixed: no end code
        std::string("\x03\x02", 2),                        // fixed: a copy from before the start
        std::string("\x05\xe0\x93\x24\x49\x92\x24\x49\x92\x00", 10), // over-subscribed code
    };
    for (const std::string& data : cases) {
        EXPECT_EQ("damaged deflate data", kvtest::thrownBy([&] { Inflate::inflate(data); }).raw)
            << testing::PrintToString(data);
    }
}

// Raw deflate from Python's zlib: stored blocks (level 0), fixed and dynamic codes.
TEST(Inflate, DecodesWhatZlibWrites) {
    kvtest::TempDir tmp;
    const char* const compress =
        "import sys, zlib\n"
        "data = b''.join(b'%d:%d ' % (i, i * i % 97) for i in range(20000))\n"
        "open(sys.argv[1] + '/plain', 'wb').write(data)\n"
        "for level in (0, 1, 9):\n"
        "    c = zlib.compressobj(level, zlib.DEFLATED, -15)\n"
        "    open(sys.argv[1] + '/%d' % level, 'wb').write(c.compress(data) + c.flush())\n";
    ASSERT_EQ(0, kvtest::runProcess({"/usr/bin/env", "python3", "-c", compress, tmp.path()}).exitCode);
    const std::string plain = kvtest::readFile(tmp / "plain");
    for (const char* level : {"0", "1", "9"}) {
        const std::string data = kvtest::readFile(tmp / level);
        EXPECT_EQ(plain, Inflate::inflate(data)) << level;
        EXPECT_EQ(plain.substr(0, 40), Inflate::inflate(data, 40).substr(0, 40)) << level;
    }
}

// Every damaged copy of a real stream either decodes or is refused with the
// one message; under the sanitizers this also shows no read or write out of
// bounds.
TEST(Inflate, DamagedCopiesDecodeOrAreRefused) {
    kvtest::TempDir tmp;
    const char* const compress =
        "import sys, zlib\n"
        "c = zlib.compressobj(9, zlib.DEFLATED, -15)\n"
        "data = b''.join(b'%d ' % (i * i % 1000) for i in range(400))\n"
        "open(sys.argv[1] + '/z', 'wb').write(c.compress(data) + c.flush())\n";
    ASSERT_EQ(0, kvtest::runProcess({"/usr/bin/env", "python3", "-c", compress, tmp.path()}).exitCode);
    const std::string data = kvtest::readFile(tmp / "z");
    for (std::size_t at = 0; at < data.size(); ++at) {
        for (const unsigned char flip : {0x01, 0x10, 0xff}) {
            std::string copy = data;
            copy[at] = static_cast<char>(copy[at] ^ flip);
            try {
                Inflate::inflate(copy);
            } catch (const KvErrorBase& e) {
                EXPECT_EQ(std::string("damaged deflate data"), e.rawMessage()) << at;
            }
        }
        EXPECT_ANY_THROW(Inflate::inflate(data.substr(0, at))) << at;
    }
}
