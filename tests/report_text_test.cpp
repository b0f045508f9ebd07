// SPDX-License-Identifier: Apache-2.0
// The JSON strings of the reports: valid JSON whatever bytes a file name or a message holds.
#include "image/report_text.hpp"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.hpp"

namespace {

struct JsonStringCase {
    const char* name;
    std::string text;
    std::string json;  // without the quotes around it
};

// n replacement characters, one per byte of no character.
std::string bad(int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += "\\ufffd";
    return text;
}

class ReportText : public TempDirTest {};

TEST_F(ReportText, JsonStringKeepsUtf8AndEscapesOrReplacesEverythingElse) {
    const JsonStringCase cases[] = {
        {"plain text", "image.bin", "image.bin"},
        {"quote and backslash", "a\"b\\c", "a\\\"b\\\\c"},
        {"control characters and DEL", std::string("\0\n\x1f\x7f", 4),
         "\\u0000\\u000a\\u001f\\u007f"},
        {"C1 controls", "\xc2\x80\xc2\x9f", "\\u0080\\u009f"},
        {"two, three and four bytes", "\xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
         "\xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
        {"the last before and the first after the surrogates", "\xed\x9f\xbf\xee\x80\x80",
         "\xed\x9f\xbf\xee\x80\x80"},
        {"the last code point", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},
        {"overlong forms", "\xc0\xaf\xc1\xbf\xe0\x80\xaf\xf0\x80\x80\xaf", bad(11)},
        {"surrogates", "\xed\xa0\x80\xed\xbf\xbf", bad(6)},
        {"past U+10FFFF", "\xf4\x90\x80\x80\xf5\x80", bad(6)},
        {"stray continuation and bytes never used", "\x80\xbf\xfe\xff", bad(4)},
        {"a sequence cut by text and by the end",
         "\xe2\x82"
         "a\xf0\x9f\x98",
         bad(2) + "a" + bad(3)},
    };
    std::string all = "[";
    for (const JsonStringCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string json = json_string(c.text);
        EXPECT_EQ(json, "\"" + c.json + "\"");
        all += (all.size() > 1 ? "," : "") + json;
    }
    // Python's parser, strict about control characters, takes every one of them.
    write_text(path("all.json"), all + "]");
    EXPECT_EQ(shell_output("python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1], "
                           "encoding=\"utf-8\"))))' " +
                           path("all.json")),
              std::to_string(sizeof(cases) / sizeof(cases[0])) + "\n");
}

}  // namespace
