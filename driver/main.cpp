// SPDX-License-Identifier: Apache-2.0
#include "driver/run.hpp"
#include "image/command_line.hpp"
#include "platform/entry.hpp"

int tool_main(int argc, char** argv) {
    // First, before any key is read.
    keep_keys_out_of_core_files("bootseal");
    return run_bootseal(argc, argv);
}
