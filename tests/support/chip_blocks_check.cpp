// Renders a Chip program twice, once sample by sample ("--adaptive0") and
// once as the chip program renders it by default (in adaptive blocks where
// that is exact), and compares the samples that reach dac bit for bit.
//
// Each rendering runs the engine's driver in a child process of its own,
// with audio off (--silent) as the chip program would, and with one file
// sporked before the program: a one-line script whose call Capture.start()
// hangs a capture node on each dac channel. The capture nodes belong to no
// shred, so they stay in the graph until the machine shuts down; each keeps
// what its channel output, sample by sample or a block at a time. The child
// hands the samples and what the program printed back through files; both
// must be the same in the two renderings (so values a program prints of
// nodes that do not reach dac are compared too).
//
// Both children start from this process as it is, and the clock the engine
// reads for seeds (time()) is fixed here, so that programs seeded by the
// time (the noise generators) draw the same numbers in both.
//
// The check fails when the sample counts, a sample's bits, the printed
// text or the exit statuses differ, or when the block rendering computed no
// frame in blocks although the program renders sound: a program whose graph
// has to render sample by sample (feedback) says so with a line
// "// renders per sample".
//
// Usage: chip_blocks_check <script>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "chip/driver/chip_compile.h"
#include "chip/driver/chip_main.h"
#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/ugen_frame.h"

// The engine's seeds come from the time in seconds; both renderings must
// see the same one.
extern "C" time_t time(time_t* out) {
  const time_t fixed = 1000000000;
  if (out) *out = fixed;
  return fixed;
}

namespace {

// ---------------------------------------------------------------------------
// The capture class

enum { kMaxChannels = 2 };

Chip_Type* g_capture_type = nullptr;
Chip_UGen* g_nodes[kMaxChannels] = {};
std::vector<float> g_samples[kMaxChannels];
uint64_t g_block_frames = 0;  // frames channel 0 recorded by block ticks

void record(Chip_Object* self, const SAMPLE* in, unsigned long frames) {
  for (int c = 0; c < kMaxChannels; c++) {
    if (g_nodes[c] == self) g_samples[c].insert(g_samples[c].end(), in, in + frames);
  }
}

unsigned long capture_tick(Chip_Object* self, SAMPLE in, SAMPLE* out, Chip_VM_Shred*) {
  record(self, &in, 1);
  *out = in;
  return 1;
}

unsigned long capture_tick_v(Chip_Object* self, const SAMPLE* in, SAMPLE* out,
                             unsigned long frames, Chip_VM_Shred*) {
  record(self, in, frames);
  if (self == g_nodes[0]) g_block_frames += frames;
  if (out != in) std::memmove(out, in, frames * sizeof(SAMPLE));
  return frames;
}

// Capture.start(): a capture node from each dac channel into blackhole.
void capture_start(void*, Chip_DL_Return*, Chip_VM_Shred*) {
  Chip_UGen* dac = g_vm->dac();
  for (unsigned long c = 0; c < kMaxChannels; c++) {
    Chip_UGen* chan = dac->multi_chan_size ? dac->multi_chan[c] : dac;
    if (!chan || g_nodes[c]) continue;
    auto* node =
        static_cast<Chip_UGen*>(instantiate_and_initialize_object(g_capture_type, nullptr));
    if (!node) continue;
    g_nodes[c] = node;
    node->add(chan, 0);
    g_vm->blackhole()->add(node, 0);
    if (!dac->multi_chan_size) break;
  }
}

t_CPBOOL capture_query(Chip_DL_Query*) {
  Chip_Env* env = Chip_Env::instance();
  g_capture_type = type_engine_import_ugen_begin(env, "Capture", "UGen", env->global(), nullptr,
                                                 nullptr, capture_tick, nullptr);
  if (!g_capture_type) return FALSE;
  g_capture_type->ugen_info->tick_v = capture_tick_v;
  g_capture_type->ugen_info->block = CHIP_BLOCK_EXACT;
  if (!frame_import_sfun(env, "void", "start", capture_start)) return frame_fail(env);
  return type_engine_import_class_end(env);
}

// ---------------------------------------------------------------------------
// Renderings

struct Rendering {
  int status = -1;  // the driver's exit status; -1: no normal exit
  std::vector<float> samples[kMaxChannels];
  uint64_t block_frames = 0;
  std::string printed;  // standard output and error together
};

// The child: the driver over the capture script and the program; then the
// status, the block count and each channel's samples into `data`.
[[noreturn]] void render_child(FILE* data, FILE* console, const std::vector<std::string>& args) {
  dup2(fileno(console), STDOUT_FILENO);
  dup2(fileno(console), STDERR_FILENO);
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  int32_t status = chip_main(static_cast<int>(argv.size()), argv.data());
  std::fflush(stdout);
  std::fflush(stderr);
  uint64_t blocks = g_block_frames;
  bool ok = std::fwrite(&status, sizeof status, 1, data) == 1 &&
            std::fwrite(&blocks, sizeof blocks, 1, data) == 1;
  for (int c = 0; c < kMaxChannels && ok; c++) {
    uint64_t n = g_samples[c].size();
    ok = std::fwrite(&n, sizeof n, 1, data) == 1 &&
         (n == 0 || std::fwrite(g_samples[c].data(), sizeof(float), n, data) == n);
  }
  ok = std::fflush(data) == 0 && ok;
  _exit(ok ? 0 : 3);
}

bool render(const std::vector<std::string>& args, Rendering& out, std::string& error) {
  FILE* data = std::tmpfile();
  FILE* console = std::tmpfile();
  if (!data || !console) {
    error = "no temporary file";
    return false;
  }
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) {
    error = "no fork";
    return false;
  }
  if (pid == 0) render_child(data, console, args);
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);

  std::rewind(data);
  int32_t status = -1;
  bool ok = WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0 &&
            std::fread(&status, sizeof status, 1, data) == 1 &&
            std::fread(&out.block_frames, sizeof out.block_frames, 1, data) == 1;
  for (int c = 0; c < kMaxChannels && ok; c++) {
    uint64_t n = 0;
    ok = std::fread(&n, sizeof n, 1, data) == 1;
    if (ok) {
      out.samples[c].resize(n);
      ok = n == 0 || std::fread(out.samples[c].data(), sizeof(float), n, data) == n;
    }
  }
  std::fclose(data);
  std::rewind(console);
  char text[4096];
  size_t n;
  while ((n = std::fread(text, 1, sizeof text, console)) > 0) out.printed.append(text, n);
  std::fclose(console);
  if (!ok) {
    // The program ended the process itself (Machine.crash, a kill): what
    // it rendered is gone; its way of ending is compared instead.
    out.status = WIFEXITED(wait_status) ? 1000 + WEXITSTATUS(wait_status)
                                        : 2000 + WTERMSIG(wait_status);
    for (auto& channel : out.samples) channel.clear();
    return true;
  }
  out.status = status;
  return true;
}

bool says_per_sample(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("// renders per sample") != std::string::npos) return true;
  }
  return false;
}

bool has_sound(const Rendering& r) {
  for (const auto& channel : r.samples) {
    for (float v : channel) {
      if (v != 0.0f) return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: chip_blocks_check <script>\n");
    return 2;
  }
  const std::string script = argv[1];
  chip_provide_module("VXIgn", capture_query);

  char capture_path[] = "/tmp/chip-blocks-capture-XXXXXX.chip";
  int fd = mkstemps(capture_path, 5);
  if (fd < 0) {
    std::fprintf(stderr, "cannot write the capture script\n");
    return 2;
  }
  const char capture[] = "Capture.start();\n";
  bool written = write(fd, capture, sizeof capture - 1) == static_cast<ssize_t>(sizeof capture - 1);
  close(fd);
  if (!written) return 2;

  Rendering per_sample, blocks;
  std::string error;
  bool ok = render({"chip", "--silent", "--adaptive0", capture_path, script}, per_sample, error) &&
            render({"chip", "--silent", capture_path, script}, blocks, error);
  unlink(capture_path);
  if (!ok) {
    std::fprintf(stderr, "%s: %s\n", script.c_str(), error.c_str());
    return 2;
  }

  int failures = 0;
  if (per_sample.status != blocks.status) {
    std::printf("exit statuses differ: %d sample by sample, %d in blocks\n", per_sample.status,
                blocks.status);
    failures++;
  }
  if (per_sample.printed != blocks.printed) {
    std::printf("printed sample by sample:\n%s\nprinted in blocks:\n%s\n",
                per_sample.printed.c_str(), blocks.printed.c_str());
    failures++;
  }
  for (int c = 0; c < kMaxChannels; c++) {
    const std::vector<float>& a = per_sample.samples[c];
    const std::vector<float>& b = blocks.samples[c];
    if (a.size() != b.size()) {
      std::printf("channel %d: %zu samples sample by sample, %zu in blocks\n", c, a.size(),
                  b.size());
      failures++;
      continue;
    }
    for (size_t i = 0; i < a.size(); i++) {
      if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) {
        std::printf("channel %d, sample %zu: %.9g sample by sample, %.9g in blocks\n", c, i,
                    static_cast<double>(a[i]), static_cast<double>(b[i]));
        failures++;
        break;
      }
    }
  }
  const bool per_sample_expected = says_per_sample(script);
  if (has_sound(per_sample) && !per_sample_expected && blocks.block_frames == 0) {
    std::printf("the program renders sound but no frame was rendered in blocks\n");
    failures++;
  }
  if (per_sample_expected && blocks.block_frames != 0) {
    std::printf("the program says it renders per sample, but %llu frames went in blocks\n",
                static_cast<unsigned long long>(blocks.block_frames));
    failures++;
  }
  std::printf("%s: %zu frames, %llu of them in blocks%s\n", script.c_str(),
              per_sample.samples[0].size(), static_cast<unsigned long long>(blocks.block_frames),
              failures ? ": DIFFERENT" : ", identical");
  return failures ? 1 : 0;
}
