// SPDX-License-Identifier: Apache-2.0
// The report of a bootseal-verify run, as aligned text lines or as one JSON object.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "check/image_checks.hpp"

// Bumped whenever a member of the JSON report changes its meaning or goes away.
constexpr int kReportSchemaVersion = 1;

// Everything a report tells. A run that could not check (a usage error, an image or a key that
// cannot be read) says why in error.
struct VerifyReport {
    std::string image;       // the image's file name; empty when not known
    bool have_mode = false;  // chip and secure were given
    int chip = 0;
    int secure = 0;
    std::string kind;  // "plain", "AES-signed", ...; empty when not known
    std::vector<CheckResult> checks;
    KeyUse aes;
    KeyUse rsa;
    std::string error;  // empty when the run could check
};

// Prints the report as text: a heading, one line per check and the result line, with the
// status in a column wide enough for every status so that the details line up.
void print_text_report(FILE* out, const VerifyReport& report);

// Prints the report as one JSON object on one line.
void print_json_report(FILE* out, const VerifyReport& report);
