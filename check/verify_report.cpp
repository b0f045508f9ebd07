// SPDX-License-Identifier: Apache-2.0
#include "check/verify_report.hpp"

#include "image/report_text.hpp"

namespace {

// The width of the name column and of the status column: "UNCHECKED" is the widest status.
constexpr int kNameWidth = 16;
constexpr int kStatusWidth = 9;

void print_line(FILE* out, const char* name, const char* status, const std::string& detail) {
    fprintf(out, "%-*s %-*s  %s\n", kNameWidth, name, kStatusWidth, status, detail.c_str());
}

// "null" for an empty text, otherwise the text as a JSON string.
std::string json_or_null(const std::string& text) {
    return text.empty() ? "null" : json_string(text);
}

std::string json_check(const CheckResult& check) {
    std::string status = status_name(check.status);
    for (char& c : status) c = static_cast<char>(c - 'A' + 'a');
    std::string text = "{\"name\": " + json_string(check.name) + ", \"status\": \"" + status +
                       "\", \"detail\": " + json_string(check.detail);
    for (const CheckValue& value : check.values) {
        text += ", " + json_string(value.key) + ": " +
                (value.is_number ? std::to_string(value.number) : json_string(value.hex));
    }
    return text + "}";
}

}  // namespace

void print_text_report(FILE* out, const VerifyReport& report) {
    fprintf(out, "%s: chip %d, secure boot %d, %s image\n", report.image.c_str(), report.chip,
            report.secure, report.kind.c_str());
    for (const CheckResult& r : report.checks) {
        print_line(out, r.name.c_str(), status_name(r.status), r.detail);
    }
    const CheckTally tally = tally_checks(report.checks);
    if (tally.failed) {
        print_line(out, "result", "FAIL",
                   std::to_string(tally.failed) + " of " + std::to_string(report.checks.size()) +
                       " checks failed");
    } else if (tally.unchecked) {
        print_line(out, "result", "UNCHECKED",
                   std::to_string(tally.passed) + " passed, " + std::to_string(tally.unchecked) +
                       " could not be made (" + tally.unchecked_names + "): see their lines");
    } else {
        print_line(out, "result", "OK", "every check passed");
    }
}

void print_json_report(FILE* out, const VerifyReport& report) {
    const CheckTally tally = tally_checks(report.checks);
    std::string text = "{\"schema_version\": " + std::to_string(kReportSchemaVersion) +
                       ", \"image\": " + json_or_null(report.image);
    text += report.have_mode ? ", \"chip\": " + std::to_string(report.chip) +
                                   ", \"secure\": " + std::to_string(report.secure)
                             : ", \"chip\": null, \"secure\": null";
    text += ", \"kind\": " + json_or_null(report.kind) + ", \"checks\": [";
    for (size_t i = 0; i < report.checks.size(); ++i) {
        text += (i ? ", " : "") + json_check(report.checks[i]);
    }
    text += "], \"keys\": {\"aes\": " + json_key_use(report.aes) +
            ", \"rsa\": " + json_key_use(report.rsa) + "}";
    text += ", \"passed\": " + std::to_string(tally.passed) +
            ", \"failed\": " + std::to_string(tally.failed) +
            ", \"unchecked\": " + std::to_string(tally.unchecked);
    // A run that could not check has not passed, whatever its lines say.
    text += std::string(", \"result\": \"") + (report.error.empty() ? result_name(tally) : "fail") +
            "\"";
    text += ", \"error\": " +
            (report.error.empty() ? "null" : "{\"message\": " + json_string(report.error) + "}");
    fprintf(out, "%s}\n", text.c_str());
}
