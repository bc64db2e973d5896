// fluvane-devservice: the loopback stand-in of the web service for a person
// to try the features by hand.
//
//   fluvane-devservice [--https] [--port N]
//   fluvane-devservice --help
//
// Listens on 127.0.0.1 (port N, else a free one), answers the framework's
// endpoints with sample replies and the instrument's in memory (seeded with
// one tune), prints each request's method, target and body, and prints the
// lines to configure the program with (FLUVANE_SERVICE_URL, and over HTTPS
// FLUVANE_CA_FILE for the certificate made at start). Ends on Ctrl-C (or
// SIGTERM). --help prints the usage and starts nothing; an option it does
// not know, or a port outside 1..65535, is a usage error (status 2).
#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fluvane_service.h"
#include "service_stub.h"
#include "vxu/VXSecrets.h"
#include "test_certificate.h"

namespace {

// A packet of four snapshots: the four holes closed one after the other,
// a quarter of a second apart, with steady breath.
std::string seedTune() {
  auto word = [](std::string& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  auto bits = [](float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
  };
  std::string packet;
  word(packet, 0xFEED0101u);
  word(packet, 60);
  word(packet, 0);
  word(packet, bits(16000.0f));
  const uint32_t masks[4] = {1, 3, 7, 15};
  for (int i = 0; i < 4; i++) {
    word(packet, bits(i == 0 ? 0.0f : 4000.0f));
    word(packet, masks[i] | 96u << 8);
  }
  return packet;
}

void usage(std::FILE* to) {
  std::fprintf(to,
               "usage: fluvane-devservice [--https] [--port N]\n"
               "  a stand-in of the web service on 127.0.0.1 for trying the features by hand;\n"
               "  it prints the lines that point the programs at it, then each request.\n"
               "  --https    over HTTPS, with a certificate made at the start\n"
               "  --port N   listen on port N (1..65535) instead of a free one\n");
}

}  // namespace

int main(int argc, char** argv) {
  bool https = false;
  int port = 0;
  for (int i = 1; i < argc; i++) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    }
    if (arg == "--https") {
      https = true;
    } else if (arg == "--port" && i + 1 < argc) {
      char* end = nullptr;
      const long n = std::strtol(argv[++i], &end, 10);
      if (!end || *end || end == argv[i] || n < 1 || n > 65535) {
        std::fprintf(stderr, "fluvane-devservice: not a port: %s\n", argv[i]);
        usage(stderr);
        return 2;
      }
      port = static_cast<int>(n);
    } else {
      usage(stderr);
      return 2;
    }
  }
  // Blocked before the server's threads start, so they inherit it and the
  // loop below takes the signal.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::unique_ptr<stub::TestCertificate> certificate;
  if (https) {
    certificate = std::make_unique<stub::TestCertificate>();
    if (!certificate->valid()) {
      std::fprintf(stderr, "fluvane-devservice: cannot make a certificate\n");
      return 1;
    }
  }
  stub::ServiceStub service(certificate.get(), port);
  if (!service.listening()) {
    if (port > 0) {
      std::fprintf(stderr, "fluvane-devservice: cannot listen on 127.0.0.1:%d\n", port);
    } else {
      std::fprintf(stderr, "fluvane-devservice: cannot listen\n");
    }
    return 1;
  }
  // The program shows the OK text as the button that dismisses the message
  // and the cancel text as the one that opens its link: "Open" opens it.
  service.on("/fluvane/motd/",
             stub::Reply::text(
                 "###TITLE###Hello###BODY###A message from the development service."
                 "###URL###https://fluvane.org/###ID###1###OK_B###Later###CANCEL_B###Open###"));
  service.on("/fluvane/infotext/", stub::Reply::text("Information from the development service."));
  service.on("/fluvane/getFile/", stub::Reply::text("file contents"));
  service.on("/fluvane/getRichContent/",
             stub::Reply::text("Title\nBody\nhttps://fluvane.org/\nimage.png"));
  service.on("/fluvane/splashscreen/", stub::Reply::text("", 404));
  service.on("/fluvane/stats/", stub::Reply::text("1"));
  service.on("/fluvane/serverobject/", stub::Reply::text("headline/5:hello"));
  // Signing in can be tried: nobody is signed in at first (an empty state),
  // and any name and password are accepted (0).
  service.on("/vexel/login/", stub::Reply::text("0"));
  service.on("/vexel/logout/", stub::Reply::text("0"));
  service.on("/vexel/authstate/", stub::Reply::text(""));
  // The instrument's endpoints, in memory, seeded with one short tune so
  // the globe has something to play before anything is uploaded.
  stub::FluvaneService instrument(service, SHA_HASH_SECRET);
  instrument.seed("48.856600", "2.352200", "Seed", seedTune());

  std::printf("export FLUVANE_SERVICE_URL=%s\n", service.baseUrl().c_str());
  if (certificate) std::printf("export FLUVANE_CA_FILE=%s\n", certificate->pemPath().c_str());
  std::fflush(stdout);

  std::size_t shown = 0;
  for (;;) {
    // Shows new requests as they come; a signal ends the wait.
    if (service.waitForRequests(shown + 1, 0.5)) {
      std::vector<stub::Request> requests = service.requests();
      for (; shown < requests.size(); ++shown) {
        std::printf("%s %s %s\n", requests[shown].method.c_str(), requests[shown].target.c_str(),
                    requests[shown].body.c_str());
      }
      std::fflush(stdout);
    }
    timespec none{0, 0};
    if (sigtimedwait(&signals, nullptr, &none) > 0) break;
  }
  return 0;
}
