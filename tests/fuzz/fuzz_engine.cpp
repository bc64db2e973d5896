#include "fuzz_engine.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "chip/driver/chip_compile.h"
#include "chip/emit/chip_emit.h"
#include "chip/front/chip_parse.h"
#include "chip/syn/ugen_syn.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_vm.h"

namespace {

void drop(c_constr, va_list) {}
void nothing() {}

Fuzz_Engine* g_engine = nullptr;

}  // namespace

Fuzz_Engine& fuzz_engine() {
  // The engine left at the end goes before the leak check at exit, which
  // would otherwise count the type system's records as lost.
  static const bool ends_at_exit = std::atexit(fuzz_engine_done) == 0;
  (void)ends_at_exit;
  if (!g_engine) g_engine = new Fuzz_Engine;
  return *g_engine;
}

void fuzz_engine_done() {
  delete g_engine;
  g_engine = nullptr;
}

void fuzz_engine_quiet() {
  static const EM_Sink sink{drop, nothing};
  EM_set_sink(&sink);
}

Fuzz_Engine::Fuzz_Engine() : m_vm(new Chip_VM), m_compiler(nullptr) {
  EM_setlog(CP_LOG_NONE);
  Chip_VM::our_priority = CHIP_VM_NO_PRIORITY;
  g_vm = m_vm;
  // The chip program's defaults with "--silent": blocking, 44.1 kHz, two
  // channels each way.
  if (!m_vm->initialize(FALSE, TRUE, 44100, 256, 8, 0, 0, 2, 2, TRUE, 0)) return;
  m_compiler = new Chip_Compiler;
  if (!m_compiler->initialize(m_vm)) return;
  m_compiler->emitter->dump_code = FALSE;
  m_compiler->set_auto_depend(FALSE);
  if (!m_vm->initialize_synthesis()) {
    delete m_compiler;
    m_compiler = nullptr;
  }
}

Fuzz_Engine::~Fuzz_Engine() {
  syn_detach(0, nullptr);
  g_vm = nullptr;
  delete m_vm;
  delete m_compiler;
  reset_parse();
}

Chip_VM_Code* Fuzz_Engine::compile(const uint8_t* data, size_t size) {
  if (!m_compiler) return nullptr;
  // An empty stream cannot be opened in memory; an empty source is a
  // syntax error all the same.
  static char empty[] = " ";
  FILE* source = size ? fmemopen(const_cast<uint8_t*>(data), size, "r") : fmemopen(empty, 1, "r");
  if (!source) return nullptr;
  t_CPBOOL ok = m_compiler->go("fuzz.chip", source, nullptr);
  std::fclose(source);
  return ok ? m_compiler->output() : nullptr;
}

void Fuzz_Engine::run(Chip_VM_Code* code, long samples, double seconds) {
  if (!code || !m_vm->spork(code, nullptr)) return;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::thread stopper([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (!finished.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return done; })) {
      m_vm->stop();
    }
  });
  m_vm->run((t_CPWORD)samples);
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  finished.notify_all();
  stopper.join();
}
