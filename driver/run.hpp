// SPDX-License-Identifier: Apache-2.0
// The whole run of the sealing command, callable in-process.
#pragma once

// Runs bootseal with the command line argv[0..argc); returns the exit status: 0 when the image
// was written, 1 when writing it failed, -1 for every other failure.
int run_bootseal(int argc, char** argv);
