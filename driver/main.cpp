// SPDX-License-Identifier: Apache-2.0
#include "driver/run.hpp"

int main(int argc, char** argv) { return run_bootseal(argc, argv); }
