// SPDX-License-Identifier: Apache-2.0
// The entry point: the command line is bytes, carried as they are.
#include "platform/entry.hpp"

int main(int argc, char** argv) { return tool_main(argc, argv); }
