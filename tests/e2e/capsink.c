/* capsink: a sound card behind a FIFO, for ALSA's `file` PCM plugin.
 *
 * usage: capsink FIFO OUT.raw OUT.ts [RATE [PIPE_BYTES]]
 *
 * ALSA's `null` PCM swallows audio as fast as it is written, so the `file` plugin's copy of it
 * would arrive far ahead of real time. This reader takes the copy from a FIFO at RATE frames a
 * second (S16_LE stereo), which makes the player's writes block just as on a real card, and keeps
 * what it read in OUT.raw. For each chunk it writes "<first frame> <wall time it plays>" to OUT.ts,
 * so that sounds in the capture can be set against the times of clicks.
 *
 * The FIFO is held open for writing too: the pipe then exists (and is shrunk to PIPE_BYTES, the
 * emulated device buffer) before the player opens it, and a player that closes and reopens its
 * PCM never makes us see end-of-file. When no data comes in time the device has underrun; its
 * clock restarts with the next data, as a card's does. Runs until killed (SIGTERM). */
#define _GNU_SOURCE
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum { kFrameBytes = 4, kChunkFrames = 256 };

static volatile sig_atomic_t g_stop = 0;

static void on_signal(int sig)
{
    (void)sig;
    g_stop = 1;
}

static double now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static void sleep_until(double when)
{
    double d = when - now();
    if (d <= 0)
        return;
    struct timespec ts = {(time_t)d, (long)((d - (double)(time_t)d) * 1e9)};
    nanosleep(&ts, NULL);
}

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: capsink FIFO OUT.raw OUT.ts [RATE [PIPE_BYTES]]\n");
        return 2;
    }
    const int rate = argc > 4 ? atoi(argv[4]) : 44100;
    const int pipe_bytes = argc > 5 ? atoi(argv[5]) : 4096;

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;   /* no SA_RESTART: a blocked read returns on SIGTERM */
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);

    int fd = open(argv[1], O_RDWR);
    if (fd < 0) {
        perror("capsink: open FIFO");
        return 1;
    }
    if (fcntl(fd, F_SETPIPE_SZ, pipe_bytes) < 0)
        perror("capsink: F_SETPIPE_SZ");
    FILE* raw = fopen(argv[2], "wb");
    FILE* ts = fopen(argv[3], "w");
    if (!raw || !ts) {
        perror("capsink: open output");
        return 1;
    }

    unsigned char buf[kChunkFrames * kFrameBytes + kFrameBytes];
    size_t pending = 0;             /* bytes of an incomplete frame kept from the last read */
    long long frames = 0;           /* frames captured so far */
    long long anchor_frame = 0;     /* frame played at anchor_wall, when the device (re)started */
    double anchor_wall = -1;

    while (!g_stop) {
        const double asked = now();
        const ssize_t n = read(fd, buf + pending, sizeof buf - kFrameBytes - pending);
        if (n <= 0)
            continue;   /* interrupted */
        const double got = now();
        pending += (size_t)n;
        const long long nf = (long long)(pending / kFrameBytes);
        if (nf == 0)
            continue;

        double due = anchor_wall + (double)(frames - anchor_frame) / rate;
        /* We waited for data past the moment the device needed it: an underrun. The device
         * starts again when data comes. (If data was waiting and only we were late, keep the
         * clock: the player was not.) */
        if (anchor_wall < 0 || (got - asked > 0.001 && got > due + 0.002)) {
            anchor_wall = got;
            anchor_frame = frames;
            due = got;
        }
        fwrite(buf, kFrameBytes, (size_t)nf, raw);
        fprintf(ts, "%lld %.6f\n", frames, due);
        fflush(raw);
        fflush(ts);
        frames += nf;
        pending -= (size_t)nf * kFrameBytes;
        memmove(buf, buf + nf * kFrameBytes, pending);

        /* Take no more until the device has played what it holds. */
        sleep_until(anchor_wall + (double)(frames - anchor_frame) / rate);
    }
    fclose(raw);
    fclose(ts);
    close(fd);
    return 0;
}
