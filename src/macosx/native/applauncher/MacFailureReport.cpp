// FailureReport: currentProcessFacts, showSystemAlert.
#include "FailureReport.h"

#include <unistd.h>

#include <cstdint>
#include <memory>
#include <stdexcept>

#include "Dll.h"

namespace {

// CoreFoundation's C interface, declared here so that the launcher needs no
// SDK headers and gains no link-time dependency on the framework.
typedef const void* CFTypeRef;
typedef const struct KvOpaqueCFString* CFStringRef;
typedef const void* CFAllocatorRef;
typedef const void* CFURLRef;
typedef double CFTimeInterval;
typedef unsigned long CFOptionFlags;
typedef std::uint32_t CFStringEncoding;
typedef std::int32_t SInt32;

typedef CFStringRef (*CFStringCreateWithCStringFunc)(CFAllocatorRef, const char*,
                                                     CFStringEncoding);
typedef void (*CFReleaseFunc)(CFTypeRef);
typedef SInt32 (*CFUserNotificationDisplayAlertFunc)(CFTimeInterval, CFOptionFlags, CFURLRef,
                                                     CFURLRef, CFURLRef, CFStringRef,
                                                     CFStringRef, CFStringRef, CFStringRef,
                                                     CFStringRef, CFOptionFlags*);

const char* const coreFoundationPath =
    "/System/Library/Frameworks/CoreFoundation.framework/CoreFoundation";
const CFStringEncoding kCFStringEncodingUTF8 = 0x08000100;
const CFOptionFlags kCFUserNotificationStopAlertLevel = 0;

struct CoreFoundation {
    explicit CoreFoundation(const Dll& lib)
        : createString(reinterpret_cast<CFStringCreateWithCStringFunc>(
              lib.getFunction("CFStringCreateWithCString", false))),
          release(reinterpret_cast<CFReleaseFunc>(lib.getFunction("CFRelease", false))),
          displayAlert(reinterpret_cast<CFUserNotificationDisplayAlertFunc>(
              lib.getFunction("CFUserNotificationDisplayAlert", false))) {}

    bool complete() const { return createString && release && displayAlert; }

    CFStringCreateWithCStringFunc createString;
    CFReleaseFunc release;
    CFUserNotificationDisplayAlertFunc displayAlert;
};

class CFString {
public:
    CFString(const CoreFoundation& cf, const std::string& text)
        : release(cf.release), ref(cf.createString(nullptr, text.c_str(), kCFStringEncodingUTF8)) {
        // Paths need not be valid UTF-8; show such bytes as '?' rather than nothing.
        if (!ref) {
            std::string ascii(text);
            for (char& c : ascii) {
                if (static_cast<unsigned char>(c) >= 0x80) {
                    c = '?';
                }
            }
            ref = cf.createString(nullptr, ascii.c_str(), kCFStringEncodingUTF8);
        }
    }
    ~CFString() {
        if (ref) {
            release(ref);
        }
    }
    CFString(const CFString&) = delete;
    CFString& operator=(const CFString&) = delete;

    CFStringRef get() const { return ref; }

private:
    CFReleaseFunc release;
    CFStringRef ref;
};

} // namespace

namespace FailureReport {

ProcessFacts currentProcessFacts() {
    ProcessFacts facts;
    facts.stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;
    facts.parentPid = static_cast<long>(::getppid());
    return facts;
}

void showSystemAlert(const std::string& title, const std::string& message, double timeoutSeconds) {
    std::unique_ptr<Dll> lib;
    try {
        lib.reset(new Dll(coreFoundationPath));
    } catch (const std::runtime_error&) {
        return;
    }
    const CoreFoundation cf(*lib);
    if (!cf.complete()) {
        return;
    }
    const CFString header(cf, title);
    const CFString text(cf, message);
    if (!header.get() || !text.get()) {
        return;
    }
    CFOptionFlags response = 0;
    cf.displayAlert(timeoutSeconds, kCFUserNotificationStopAlertLevel, nullptr, nullptr, nullptr,
                    header.get(), text.get(), nullptr, nullptr, nullptr, &response);
}

} // namespace FailureReport
