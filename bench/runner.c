/* Runs several commands in turn, round after round, and reports for each the
 * median wall time and the median peak resident set of its runs.
 * Usage: kovalu_runner <rounds> <label> <command...> [';;' <label> <command...>]...
 * Every run must exit with status 0; its output goes to /dev/null. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define MAX_COMMANDS 12

struct command {
    const char* label;
    char** argv;
    double* wallMs;
    long* peakKiB;
};

static int compareDouble(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return (x > y) - (x < y);
}

static int compareLong(const void* a, const void* b) {
    const long x = *(const long*)a, y = *(const long*)b;
    return (x > y) - (x < y);
}

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int runOnce(struct command* c, int round) {
    const double start = now();
    const pid_t pid = fork();
    if (pid < 0) {
        perror("fork");
        return -1;
    }
    if (pid == 0) {
        const int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 1);
        dup2(devnull, 2);
        execv(c->argv[0], c->argv);
        _exit(127);
    }
    int status;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) < 0) {
        perror("wait4");
        return -1;
    }
    const double end = now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "%s: run %d failed with status %d\n", c->label, round, status);
        return -1;
    }
    if (round >= 0) {
        c->wallMs[round] = end - start;
        c->peakKiB[round] = usage.ru_maxrss;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: %s <rounds> <label> <command...> [';;' <label> <command...>]...\n",
                argv[0]);
        return 2;
    }
    const int rounds = atoi(argv[1]);
    struct command commands[MAX_COMMANDS];
    int count = 0;
    for (int i = 2; i < argc && count < MAX_COMMANDS;) {
        commands[count].label = argv[i++];
        commands[count].argv = argv + i;
        while (i < argc && strcmp(argv[i], ";;") != 0) {
            ++i;
        }
        if (i < argc) {
            argv[i++] = NULL;
        }
        commands[count].wallMs = calloc(rounds, sizeof(double));
        commands[count].peakKiB = calloc(rounds, sizeof(long));
        ++count;
    }
    /* One unmeasured round warms the page cache for every command. */
    for (int c = 0; c < count; ++c) {
        if (runOnce(&commands[c], -1) != 0) {
            return 1;
        }
    }
    for (int r = 0; r < rounds; ++r) {
        for (int c = 0; c < count; ++c) {
            if (runOnce(&commands[c], r) != 0) {
                return 1;
            }
        }
    }
    for (int c = 0; c < count; ++c) {
        qsort(commands[c].wallMs, rounds, sizeof(double), compareDouble);
        qsort(commands[c].peakKiB, rounds, sizeof(long), compareLong);
        printf("%s median_ms=%.3f p10_ms=%.3f p90_ms=%.3f median_peak_kib=%ld max_peak_kib=%ld runs=%d\n",
               commands[c].label, commands[c].wallMs[rounds / 2], commands[c].wallMs[rounds / 10],
               commands[c].wallMs[rounds * 9 / 10], commands[c].peakKiB[rounds / 2],
               commands[c].peakKiB[rounds - 1], rounds);
    }
    return 0;
}
