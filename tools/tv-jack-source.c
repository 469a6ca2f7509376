/* tv-jack-source: a JACK client with 24 output ports "out_1" ... "out_24" for
 * measuring meters on live input. Port k carries a sine of 300 + 40 k Hz at
 * its own level, -3 - 1.5 (k - 1) dBFS; with -m each level also swings by
 * +-10 dB over 8 s (its own phase per port, clamped at 0 dBFS) so every bar
 * moves. With -z, port 24 is digital silence. With -i, lines on standard
 * input mute and unmute ports from the next period on, answered "ok" (or
 * "error: ...") on standard output:
 *   mute PORTS   unmute PORTS     PORTS: numbers, ranges "3-6" or "all"
 *   tv-jack-source [-m] [-z] [-i] [-c CLIENT]      (server: $JACK_DEFAULT_SERVER)
 * Runs until SIGINT or SIGTERM, until the server goes away, or with -i until
 * standard input ends. */
#include <jack/jack.h>

#include <math.h>
#include <poll.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kPorts = 24 };
static const double kPi = 3.14159265358979323846;

static jack_port_t* ports[kPorts];
static double phase[kPorts], step[kPorts], gain[kPorts];
static double swing, swingStep;
static int moving, silentLast;
static atomic_uint muted;  /* bit c: port c + 1 plays digital silence */
static volatile sig_atomic_t running = 1;

static int Process(jack_nframes_t n, void* arg)
{
    (void)arg;
    const unsigned mutedNow = atomic_load_explicit(&muted, memory_order_relaxed);
    for (int c = 0; c < kPorts; ++c) {
        float* out = jack_port_get_buffer(ports[c], n);
        if (!out) continue;
        if ((silentLast && c == kPorts - 1) || ((mutedNow >> c) & 1u)) {
            memset(out, 0, n * sizeof *out);
            continue;
        }
        /* The swing moves per period: 10.7 ms steps are finer than any bar's response. */
        double g = gain[c];
        if (moving) {
            g *= pow(10.0, 10.0 * sin(swing + c * 0.45) / 20.0);
            if (g > 1.0) g = 1.0;
        }
        double p = phase[c];
        for (jack_nframes_t i = 0; i < n; ++i) {
            out[i] = (float)(g * sin(p));
            p += step[c];
        }
        phase[c] = fmod(p, 2 * kPi);
    }
    swing = fmod(swing + swingStep * n, 2 * kPi);
    return 0;
}

static void Shutdown(void* arg)
{
    (void)arg;
    running = 0;
}

static void Stop(int sig)
{
    (void)sig;
    running = 0;
}

/* One command line of -i; 0 when understood. */
static int Command(char* line)
{
    char* save = NULL;
    const char* verb = strtok_r(line, " \t", &save);
    if (!verb) return 0;
    const int mute = strcmp(verb, "mute") == 0;
    if (!mute && strcmp(verb, "unmute") != 0) return -1;
    unsigned bits = 0;
    for (char* w = strtok_r(NULL, " \t", &save); w; w = strtok_r(NULL, " \t", &save)) {
        if (strcmp(w, "all") == 0) {
            bits = (1u << kPorts) - 1;
            continue;
        }
        int from, to;
        char tail;
        const int n = sscanf(w, "%d-%d%c", &from, &to, &tail);
        if (n == 1) to = from;
        else if (n != 2) return -1;
        if (from < 1 || to > kPorts || from > to) return -1;
        for (int p = from; p <= to; ++p) bits |= 1u << (p - 1);
    }
    if (mute) atomic_fetch_or(&muted, bits);
    else atomic_fetch_and(&muted, ~bits);
    return 0;
}

/* Reads commands from standard input until it ends or a stop signal. */
static void ReadCommands(void)
{
    char buf[4096];
    size_t used = 0;
    while (running) {
        struct pollfd p = {0, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = read(0, buf + used, sizeof buf - 1 - used);
        if (n <= 0) return;
        used += (size_t)n;
        char* start = buf;
        char* nl;
        while ((nl = memchr(start, '\n', used - (size_t)(start - buf)))) {
            *nl = 0;
            if (Command(start) == 0) puts("ok");
            else printf("error: %s\n", start);
            fflush(stdout);
            start = nl + 1;
        }
        used -= (size_t)(start - buf);
        memmove(buf, start, used);
        if (used == sizeof buf - 1) used = 0; /* a line too long: dropped */
    }
}

int main(int argc, char** argv)
{
    const char* name = "tv_source";
    int opt, commands = 0;
    while ((opt = getopt(argc, argv, "mzic:")) != -1) {
        if (opt == 'm') moving = 1;
        else if (opt == 'z') silentLast = 1;
        else if (opt == 'i') commands = 1;
        else if (opt == 'c') name = optarg;
        else {
            fprintf(stderr, "usage: %s [-m] [-z] [-i] [-c CLIENT]\n", argv[0]);
            return 2;
        }
    }
    jack_status_t status;
    jack_client_t* client = jack_client_open(name, JackNoStartServer | JackUseExactName, &status);
    if (!client) {
        fprintf(stderr, "tv-jack-source: no JACK server (status 0x%x)\n", (unsigned)status);
        return 1;
    }
    const double rate = jack_get_sample_rate(client);
    for (int c = 0; c < kPorts; ++c) {
        char port[16];
        snprintf(port, sizeof port, "out_%d", c + 1);
        ports[c] = jack_port_register(client, port, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (!ports[c]) {
            fprintf(stderr, "tv-jack-source: cannot register %s\n", port);
            jack_client_close(client);
            return 1;
        }
        gain[c] = pow(10.0, (-3.0 - 1.5 * c) / 20.0);
        step[c] = 2 * kPi * (300.0 + 40.0 * (c + 1)) / rate;
    }
    swingStep = 2 * kPi / (8.0 * rate);
    jack_set_process_callback(client, Process, NULL);
    jack_on_shutdown(client, Shutdown, NULL);
    signal(SIGINT, Stop);
    signal(SIGTERM, Stop);
    if (jack_activate(client) != 0) {
        fprintf(stderr, "tv-jack-source: cannot activate\n");
        jack_client_close(client);
        return 1;
    }
    if (commands) ReadCommands();
    else
        while (running) usleep(100000);
    jack_client_close(client);
    return 0;
}
