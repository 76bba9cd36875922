#ifndef KOVALU_NOTARIZATION_H
#define KOVALU_NOTARIZATION_H

#include <string>
#include <vector>

#include "BundleOptions.h"
#include "Progress.h"

/// Submits to Apple's notary service with `xcrun notarytool` and staples the
/// ticket with `xcrun stapler`, always through argument vectors.
namespace Notarization {

/// notarytool's credential arguments: `--keychain-profile NAME`, or `--key
/// FILE --key-id ID --issuer UUID`. Never a password: notarytool reads that
/// from the keychain profile. Throws with one line when neither form is
/// complete, when both are given, or when the key file is missing.
std::vector<std::string> credentialArguments(const BundleOptions& options);

/// True when any credential option is given.
bool hasCredentials(const BundleOptions& options);

/// The xcrun on the PATH; throws with one line when there is none.
std::string findXcrun();

/// What notarytool answered to a submission.
struct Submission {
    std::string id;
    std::string status; ///< Accepted, Invalid, Rejected, or empty when none came
    std::string message;
};

/// Reads the JSON notarytool writes for `submit --output-format json`; throws
/// with one line when `json` is no JSON object.
Submission readSubmission(const std::string& json);

/// The issues of a notarization log (JSON), one "path: message" line each;
/// the log's status summary when it lists none. Throws when it is not JSON.
std::vector<std::string> readIssues(const std::string& logJson);

/// The line of an Apple tool's output that says what happened: its non-empty
/// lines but "Processing: ..." ones, each without a leading "PATH: ", joined
/// with "; ".
std::string reason(const std::string& output, const std::string& path);

/// One notarization's xcrun and credential arguments.
struct Notary {
    std::string xcrun;
    std::vector<std::string> credentials;
};

/// Checks a build's --notarize before anything is written: it needs --sign
/// with an identity other than ad hoc, credentials, xcrun, and ditto or zip;
/// credentials need --notarize. Throws with one line naming what is missing.
Notary planFor(const BundleOptions& options);

/// Submits `file` (a zip or disk image) and waits for the verdict, with a
/// step line. Anything but Accepted writes each issue of the notary's log as
/// one line and throws with the status.
void submit(const Notary& notary, Progress& progress, const std::string& file,
            const std::string& shownAs);

/// Staples the ticket to a bundle or disk image; throws with stapler's reason.
void staple(const Notary& notary, Progress& progress, const std::string& path,
            const std::string& shownAs);

/// Zips the bundle `app` for the submission (beside it, removed after),
/// submits it and staples the ticket to `app`.
void notarizeApp(const Notary& notary, Progress& progress, const std::string& app,
                 const std::string& shownAs);

/// The notarize command: submits `options.bundle` (.app, .zip or .dmg) and
/// staples the ticket to a bundle or disk image; for a bundle with `--zip`,
/// writes the zip after stapling. Returns the lines of the result (the paths
/// written); throws with one line, the bundle or image left unchanged, when
/// a check, the submission or the stapling fails.
std::vector<std::string> notarizeExisting(const BundleOptions& options, Progress& progress);

} // namespace Notarization

#endif
