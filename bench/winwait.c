/* winwait: starts a program and tells when its window becomes visible on the
 * X display, and, on request, how much CPU time and how many wake-ups the
 * program has while it then waits.
 *
 *   winwait [--title TEXT] [--skip-fullscreen] [--timeout S] [--ready FILE TEXT]
 *           [--settle S --idle S] -- PROGRAM ARGS...
 *
 * The clock starts just before the program is started (fork) and stops when
 * the X server maps a top-level window whose title contains TEXT (with
 * --skip-fullscreen, a window that does not cover the whole screen);
 * window_size is the window's size then, and window_cpu_ms the CPU time the
 * program's threads had used by then, which a busy machine disturbs less
 * than the time on the clock. The display is watched through structure
 * events, never polled, so the measurement itself costs the program nothing. With --ready, winwait then
 * waits (within the same timeout) until FILE holds TEXT, say the log line a
 * program writes when it starts waiting for the user (ready_ms). With --idle,
 * it waits --settle seconds more, then counts over --idle seconds the CPU time
 * (/proc/PID/task/ * /schedstat, nanoseconds) and the wake-ups (voluntary and
 * involuntary context switches) of every thread of the process, and of its
 * first (GUI) thread apart. The program is the process that owns the
 * window (_NET_WM_PID, which Wine's X11 driver sets): where Debian's launcher
 * took the 32-bit loader, a 64-bit program runs outside the started process
 * tree. The program, the started process and its process group are then
 * killed. Prints one line of key=value pairs; exit status 0, 1 when no window
 * appeared in time, 2 for a usage or X error.
 */
#define _GNU_SOURCE
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

/* The clock of Wine's tick count (GetTickCount, WINEDEBUG=+timestamp), so
 * that a trace of the program can be laid beside the measurement. */
static double raw_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC_RAW, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int ignore_x_errors(Display *d, XErrorEvent *e) {
  (void)d;
  (void)e;
  return 0; /* a window may be gone before it is looked at */
}

/* The window's title: _NET_WM_NAME (UTF-8), else WM_NAME. */
static int title_of(Display *d, Window w, char *out, size_t size) {
  Atom net_wm_name = XInternAtom(d, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char *data = NULL;
  out[0] = 0;
  if (XGetWindowProperty(d, w, net_wm_name, 0, 1024, False, utf8, &type, &format, &count, &after,
                         &data) == Success && data && type == utf8) {
    snprintf(out, size, "%s", (char *)data);
    XFree(data);
    return 1;
  }
  if (data) XFree(data);
  char *name = NULL;
  if (XFetchName(d, w, &name) && name) {
    snprintf(out, size, "%s", name);
    XFree(name);
    return 1;
  }
  return 0;
}

struct sample {
  unsigned long long cpu_ns, main_cpu_ns, wakeups, main_wakeups;
  int threads;
};

static unsigned long long status_field(const char *path, const char *key) {
  FILE *f = fopen(path, "r");
  char line[256];
  unsigned long long value = 0;
  size_t n = strlen(key);
  if (!f) return 0;
  while (fgets(line, sizeof line, f)) {
    if (strncmp(line, key, n) == 0) value = strtoull(line + n, NULL, 10);
  }
  fclose(f);
  return value;
}

static int sample_process(pid_t pid, struct sample *s) {
  char path[128];
  memset(s, 0, sizeof *s);
  snprintf(path, sizeof path, "/proc/%d/task", (int)pid);
  DIR *dir = opendir(path);
  if (!dir) return 0;
  struct dirent *e;
  while ((e = readdir(dir))) {
    if (e->d_name[0] == '.') continue;
    int tid = atoi(e->d_name);
    unsigned long long cpu = 0, switches;
    snprintf(path, sizeof path, "/proc/%d/task/%d/schedstat", (int)pid, tid);
    FILE *f = fopen(path, "r");
    if (f) {
      if (fscanf(f, "%llu", &cpu) != 1) cpu = 0;
      fclose(f);
    }
    snprintf(path, sizeof path, "/proc/%d/task/%d/status", (int)pid, tid);
    switches = status_field(path, "voluntary_ctxt_switches:") +
               status_field(path, "nonvoluntary_ctxt_switches:");
    s->cpu_ns += cpu;
    s->wakeups += switches;
    s->threads++;
    if (tid == pid) {
      s->main_cpu_ns = cpu;
      s->main_wakeups = switches;
    }
  }
  closedir(dir);
  return 1;
}

/* The process that owns a window, as its _NET_WM_PID names it; 0 when the
 * window does not say or the process is gone. */
static pid_t owner_of(Display *d, Window w) {
  Atom net_wm_pid = XInternAtom(d, "_NET_WM_PID", False);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char *data = NULL;
  pid_t owner = 0;
  if (XGetWindowProperty(d, w, net_wm_pid, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                         &after, &data) == Success && data && type == XA_CARDINAL &&
      format == 32 && count == 1) {
    owner = (pid_t)*(unsigned long *)data;
  }
  if (data) XFree(data);
  if (owner > 0 && kill(owner, 0) != 0) owner = 0;
  return owner;
}

/* Whether the program still runs: the started process (reaped when it has
 * ended), or the window's owner where that is another process. */
static int still_running(pid_t child, pid_t *started, pid_t program) {
  if (*started > 0 && waitpid(*started, NULL, WNOHANG) == *started) *started = 0;
  if (program != child) return kill(program, 0) == 0;
  return *started > 0;
}

/* Whether the file holds the text (read whole; a missing file holds nothing). */
static int file_holds(const char *path, const char *text) {
  FILE *f = fopen(path, "rb");
  if (!f) return 0;
  size_t size = 0, capacity = 1 << 16;
  char *data = malloc(capacity + 1);
  int found = 0;
  if (data) {
    size_t n;
    while ((n = fread(data + size, 1, capacity - size, f)) > 0) {
      size += n;
      if (size == capacity) {
        char *bigger = realloc(data, capacity * 2 + 1);
        if (!bigger) break;
        data = bigger;
        capacity *= 2;
      }
    }
    data[size] = 0;
    /* the file may hold NULs; look at each NUL-ended piece */
    for (size_t at = 0; at < size && !found; at += strlen(data + at) + 1) {
      found = strstr(data + at, text) != NULL;
    }
    free(data);
  }
  fclose(f);
  return found;
}

static void usage(void) {
  fprintf(stderr,
          "usage: winwait [--title TEXT] [--skip-fullscreen] [--timeout S] [--ready FILE TEXT] "
          "[--settle S --idle S] -- PROGRAM ARGS...\n");
  exit(2);
}

int main(int argc, char **argv) {
  const char *title = "", *ready_file = NULL, *ready_text = NULL;
  int skip_fullscreen = 0;
  double timeout_s = 30, settle_s = 0, idle_s = 0;
  int i = 1;
  for (; i < argc; ++i) {
    if (!strcmp(argv[i], "--")) {
      ++i;
      break;
    } else if (!strcmp(argv[i], "--title") && i + 1 < argc) {
      title = argv[++i];
    } else if (!strcmp(argv[i], "--skip-fullscreen")) {
      skip_fullscreen = 1;
    } else if (!strcmp(argv[i], "--timeout") && i + 1 < argc) {
      timeout_s = atof(argv[++i]);
    } else if (!strcmp(argv[i], "--ready") && i + 2 < argc) {
      ready_file = argv[++i];
      ready_text = argv[++i];
    } else if (!strcmp(argv[i], "--settle") && i + 1 < argc) {
      settle_s = atof(argv[++i]);
    } else if (!strcmp(argv[i], "--idle") && i + 1 < argc) {
      idle_s = atof(argv[++i]);
    } else {
      usage();
    }
  }
  if (i >= argc) usage();

  Display *d = XOpenDisplay(NULL);
  if (!d) {
    fprintf(stderr, "winwait: cannot open the display\n");
    return 2;
  }
  XSetErrorHandler(ignore_x_errors);
  Window root = DefaultRootWindow(d);
  int screen_w = DisplayWidth(d, DefaultScreen(d)), screen_h = DisplayHeight(d, DefaultScreen(d));
  XSelectInput(d, root, SubstructureNotifyMask);
  XSync(d, False);

  double start_raw = raw_ms(), start = now_ms();
  pid_t pid = fork();
  if (pid < 0) return 2;
  if (pid == 0) {
    setpgid(0, 0);
    execvp(argv[i], argv + i);
    _exit(127);
  }
  setpgid(pid, pid);

  double shown = -1;
  const pid_t child = pid;
  pid_t program = pid; /* the window's owner once the window is found */
  struct sample at_window = {0, 0, 0, 0, 0};
  int shown_w = 0, shown_h = 0;
  int status = 1;
  while (shown < 0) {
    double left = timeout_s * 1e3 - (now_ms() - start);
    if (left <= 0) break;
    if (!XPending(d)) {
      struct pollfd p = {ConnectionNumber(d), POLLIN, 0};
      poll(&p, 1, left > 100 ? 100 : (int)left);
      if (waitpid(pid, NULL, WNOHANG) == pid) { /* ended without a window */
        pid = 0;
        break;
      }
      continue;
    }
    XEvent ev;
    XNextEvent(d, &ev);
    Window w = 0;
    if (ev.type == CreateNotify) {
      /* a title may come after the window is mapped */
      XSelectInput(d, ev.xcreatewindow.window, PropertyChangeMask);
      continue;
    } else if (ev.type == MapNotify && ev.xmap.event == root) {
      w = ev.xmap.window;
    } else if (ev.type == PropertyNotify) {
      XWindowAttributes a;
      if (XGetWindowAttributes(d, ev.xproperty.window, &a) && a.map_state == IsViewable) {
        w = ev.xproperty.window;
      }
    }
    if (!w) continue;
    char name[1024];
    XWindowAttributes a;
    if (!title_of(d, w, name, sizeof name) || !strstr(name, title)) continue;
    if (skip_fullscreen && XGetWindowAttributes(d, w, &a) && a.width >= screen_w &&
        a.height >= screen_h) {
      continue;
    }
    shown = now_ms() - start;
    pid_t owner = owner_of(d, w);
    if (owner > 0) program = owner;
    if (!sample_process(program, &at_window)) at_window.threads = 0;
    if (!XGetWindowAttributes(d, w, &a)) a.width = a.height = 0;
    shown_w = a.width;
    shown_h = a.height;
  }

  if (shown >= 0) {
    printf("window_ms=%.1f start_tick_ms=%.1f", shown, start_raw);
    if (at_window.threads > 0) printf(" window_cpu_ms=%.1f", at_window.cpu_ns / 1e6);
    printf(" window_size=%dx%d", shown_w, shown_h);
    status = 0;
    if (ready_file && still_running(child, &pid, program)) {
      while (!file_holds(ready_file, ready_text) && now_ms() - start < timeout_s * 1e3) {
        if (!still_running(child, &pid, program)) break; /* ended before it was ready */
        usleep(20000);
      }
      if (file_holds(ready_file, ready_text)) {
        printf(" ready_ms=%.1f", now_ms() - start);
      } else {
        printf(" ready=none");
        status = 1;
      }
    }
    if (idle_s > 0 && still_running(child, &pid, program) && status == 0) {
      struct sample before, after;
      usleep((useconds_t)(settle_s * 1e6));
      if (sample_process(program, &before)) {
        usleep((useconds_t)(idle_s * 1e6));
        if (sample_process(program, &after)) {
          printf(" idle_cpu_ms=%.3f idle_wakeups=%llu gui_thread_cpu_ms=%.3f gui_thread_wakeups=%llu threads=%d",
                 (after.cpu_ns - before.cpu_ns) / 1e6, after.wakeups - before.wakeups,
                 (after.main_cpu_ns - before.main_cpu_ns) / 1e6,
                 after.main_wakeups - before.main_wakeups, after.threads);
        } else {
          printf(" idle=ended");
        }
      } else {
        printf(" idle=ended");
      }
    }
    printf("\n");
  } else {
    fprintf(stderr, "winwait: no window titled \"%s\" within %.0f s\n", title, timeout_s);
  }
  if (program != child) kill(program, SIGKILL);
  if (pid > 0) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
  }
  XCloseDisplay(d);
  return status;
}
