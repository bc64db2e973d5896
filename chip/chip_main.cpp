#include "chip/chip_main.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "chip/chip_absyn.h"
#include "chip/chip_errmsg.h"
#include "chip/chip_parse.h"
#include "chip/util_string.h"

namespace {

const char kVersion[] = "1.2.1.2 (fluvane)";

void version() {
  EM_printf("chip version: %s\n", kVersion);
  EM_printf("   exe target: mac os x : intel\n");
  EM_printf("   %s\n\n", "https://fluvane.org/chip/");
}

void usage() {
  EM_printf("usage: chip --[options|commands] [+-=^] file1 file2 file3 ...\n");
  EM_printf("   [options] = halt|loop|audio|silent|dump|nodump|server|about|\n");
  EM_printf("               srate<N>|bufsize<N>|bufnum<N>|dac<N>|adc<N>|\n");
  EM_printf("               remote<hostname>|port<N>|verbose<N>|probe|\n");
  EM_printf("               channels<N>|out<N>|in<N>|shell|empty|level<N>|\n");
  EM_printf("               blocking|callback|deprecate:{stop|warn|ignore}\n");
  EM_printf("   [commands] = add|remove|replace|remove.all|status|time|kill\n");
  EM_printf("   [+-=^] = shortcuts for add, remove, replace, status\n");
  EM_printf("\n");
  version();
}

bool is_option(const char* arg) { return std::strchr("+-=^@", arg[0]) != nullptr && arg[0]; }

bool prefix(const char* arg, const char* option) {
  return std::strncmp(arg, option, std::strlen(option)) == 0;
}

// The options that take no part in what the front end does are accepted
// here so that command lines written for the whole engine read the same.
bool known_option(const char* arg, int& loglevel) {
  static const char* const exact[] = {
      "--dump", "+d", "--nodump", "-d", "--audio", "-a", "--silent", "-s", "--halt", "-t",
      "--loop", "-l", "--server", "--standalone", "--callback", "--blocking", "--hid",
      "--probe", "--caution-to-the-wind"};
  for (const char* option : exact) {
    if (std::strcmp(arg, option) == 0) return true;
  }
  if ((arg[0] == '-' && arg[1] >= '0' && arg[1] <= '9') ||
      (prefix(arg, "--") && arg[2] >= '0' && arg[2] <= '9')) {
    return true;
  }
  if (prefix(arg, "--log") || prefix(arg, "--verbose") || prefix(arg, "-v")) {
    const char* rest = arg + (prefix(arg, "--log") ? 5 : prefix(arg, "--verbose") ? 9 : 2);
    loglevel = *rest ? std::atoi(rest) : CP_LOG_INFO;
    return true;
  }
  static const char* const numeric[] = {"--srate", "-r", "--bufsize", "-b", "--bufnum", "-n",
                                        "--dac", "--adc", "--channels", "-c", "--out", "-o",
                                        "--in", "-i", "--level", "--watchdog", "--nowatchdog",
                                        "--remote", "--port", "-p", "--auto", "-u", "--adaptive"};
  for (const char* option : numeric) {
    if (prefix(arg, option)) return true;
  }
  return arg[0] == '@';
}

}  // namespace

int chip_main(int argc, const char** argv) {
  EM_setlog(CP_LOG_CORE);
  int loglevel = CP_LOG_CORE;
  int files = 0;

  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (!is_option(arg)) {
      files++;
      continue;
    }
    if (known_option(arg, loglevel)) continue;
    if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h") || !std::strcmp(arg, "--about")) {
      usage();
      return 2;
    }
    if (!std::strcmp(arg, "--version")) {
      EM_printf("\n");
      version();
      return 2;
    }
    EM_printf("[chip]: invalid flag '%s'\n", arg);
    usage();
    return 1;
  }
  EM_setlog(loglevel);

  if (files == 0) {
    EM_printf("[chip]: no input files... (try --help)\n");
    return 1;
  }

  EM_log(CP_LOG_SEVERE, "starting compilation...");
  EM_pushlog();
  int status = 0;
  for (int i = 1; i < argc && status == 0; i++) {
    const char* arg = argv[i];
    if (is_option(arg)) continue;

    std::string filename;
    std::vector<std::string> args;
    if (!extract_args(arg, filename, args)) {
      EM_printf("[chip]: malformed filename with argument list...\n");
      EM_printf("    -->  '%s'", arg);
      status = 1;
      break;
    }
    EM_log(CP_LOG_FINE, "compiling '%s'...", filename.c_str());
    EM_pushlog();
    if (chip_parse(filename.c_str(), nullptr, nullptr)) {
      delete_program(g_program);
      g_program = nullptr;
    } else {
      status = 1;
    }
    EM_poplog();
  }
  EM_poplog();
  reset_parse();
  return status;
}
