// SPDX-License-Identifier: Apache-2.0
// The entry point on Windows: the arguments come as UTF-16 and are handed on as UTF-8, and the
// standard streams are binary, so that the transcript's "\n" and "\r\n" come out as they are.
#include "platform/entry.hpp"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/windows/windows_text.hpp"

int wmain(int argc, wchar_t** wide_argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i) arguments.push_back(utf8_text(wide_argv[i]));
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    return tool_main(argc, argv.data());
}
