// rss_probe command...: runs the command and writes its peak resident set
// in KiB to the file named by RSS_OUT. A child forked straight from a large
// process (the Python driver) would report that process's peak instead.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2)
    return 2;
  pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) < 0)
    return 2;
  if (const char* out = std::getenv("RSS_OUT")) {
    if (std::FILE* f = std::fopen(out, "w")) {
      std::fprintf(f, "%ld\n", usage.ru_maxrss);
      std::fclose(f);
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
