// SPDX-License-Identifier: Apache-2.0
// Where a tool starts. The platform's entry point takes the command line as the system gives it
// and calls the tool's own main with its arguments in UTF-8.
#pragma once

// Each tool's main.
int tool_main(int argc, char** argv);
