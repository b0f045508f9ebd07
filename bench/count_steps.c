/* SPDX-License-Identifier: Apache-2.0 */
/* Counts the user-mode instructions a program executes, natively, by single-stepping it under
 * ptrace. Unlike callgrind it runs the real processor, so the tool takes the path the processor
 * chooses (its SHA-256 instructions); each iteration of a repeated string instruction counts as
 * one step, as callgrind counts it. Slow (a system call per instruction), exact and repeatable.
 *
 *     count_steps PROGRAM [ARGUMENT...]
 *
 * Prints the count on standard error as "steps: N" and exits with the program's status.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: count_steps PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    pid_t child = fork();
    if (child < 0) {
        perror("fork");
        return 2;
    }
    if (child == 0) {
        if (ptrace(PTRACE_TRACEME, 0, NULL, NULL) != 0) _exit(127);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    /* The child stops with SIGTRAP once the new program is loaded; counting starts there. */
    if (waitpid(child, &status, 0) < 0 || !WIFSTOPPED(status)) {
        fprintf(stderr, "count_steps: %s did not start\n", argv[1]);
        return 2;
    }
    unsigned long long steps = 0;
    int deliver = 0;
    for (;;) {
        if (ptrace(PTRACE_SINGLESTEP, child, NULL, (void*)(long)deliver) != 0) {
            fprintf(stderr, "count_steps: ptrace: %s\n", strerror(errno));
            return 2;
        }
        if (waitpid(child, &status, 0) < 0) {
            fprintf(stderr, "count_steps: waitpid: %s\n", strerror(errno));
            return 2;
        }
        if (WIFEXITED(status) || WIFSIGNALED(status)) break;
        ++steps;
        /* A signal other than the step's own trap is passed on to the program. */
        deliver = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
    }
    fprintf(stderr, "steps: %llu\n", steps);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
