// The layer check: reads every #include line of the sources and fails on an
// edge the layer table does not allow, and on a cycle between engine
// folders other than the one between the type system and the runtime
// (chip/types <-> chip/vm, which share a library).
//
// Usage: layer_check <source root>. Each file belongs to the room of its
// folder (the longest prefix in kRooms); an include "a/b/c.h" points at the
// room of "a/b" (or, for "chip/chip.h", at the engine's front door). A
// room may include itself, the rooms it lists, and the system's headers;
// the engine may not include SDL, GL or EGL. Outside the engine, the one
// engine header a host may include is the front door (the generator of the
// toolkit's tables, a step of the engine's own build, reads the toolkit).
//
// Prints each bad edge as "<file>:<line>: <room> may not include <path>"
// and exits 1; 0 when the sources keep to the table.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Room {
  const char* name;                  // its folder ("chip" is the front door)
  std::vector<const char*> may;      // the rooms it may include
};

// The engine, in the libraries' link order: util < front < core (types and
// vm) < emit | lib | syn < otf < driver and shell (one library, the driver
// starting the shell) < the front door.
#define CHIP_CORE "chip/util", "chip/front", "chip/types", "chip/vm"
#define CHIP_ALL CHIP_CORE, "chip/emit", "chip/lib", "chip/syn", "chip/otf"
const Room kRooms[] = {
    {"chip/util", {}},
    {"chip/front", {"chip/util"}},
    {"chip/types", {CHIP_CORE}},
    {"chip/vm", {CHIP_CORE}},
    {"chip/emit", {CHIP_CORE}},
    {"chip/lib", {CHIP_CORE}},
    {"chip/syn", {CHIP_CORE}},
    {"chip/otf", {CHIP_CORE, "chip/lib"}},
    {"chip/shell", {CHIP_ALL}},
    {"chip/driver", {CHIP_ALL, "chip/shell"}},
    {"chip", {CHIP_ALL, "chip/shell", "chip/driver"}},
    // The hosts, through the front door ("chip").
    {"platform", {}},
    {"platform/gfx", {"platform"}},
    {"platform/ui", {"platform", "platform/gfx"}},
    {"vxu", {"chip", "platform"}},
    {"vxu/ui", {"chip", "vxu", "platform", "platform/gfx", "platform/ui"}},
    {"VexelGraphics", {"platform", "platform/gfx"}},
    {"recorder", {"chip", "vxu", "platform"}},
    {"Classes", {"chip", "recorder", "vxu", "vxu/ui", "VexelGraphics", "platform",
                 "platform/gfx", "platform/ui"}},
    {"programs", {"chip", "Classes", "recorder", "vxu", "vxu/ui", "VexelGraphics", "platform",
                  "platform/gfx", "platform/ui"}},
    {"tools", {"Classes", "recorder", "vxu", "VexelGraphics", "platform", "platform/gfx",
               "platform/ui"}},
    // The generator of the toolkit's wave tables runs before the engine is
    // built, from the toolkit's own data.
    {"tools/syn_tablegen", {"chip/syn"}},
    // The test of a host written against the front door alone.
    {"tests/chip/host", {"chip"}},
};

// The folders read (below the root); tests only where a room says so.
const char* const kScanned[] = {"chip",     "platform", "vxu",   "VexelGraphics",
                                "recorder", "Classes",  "programs", "tools",
                                "tests/chip/host"};

const Room* room_of(const std::string& folder) {
  const Room* best = nullptr;
  size_t best_len = 0;
  for (const Room& room : kRooms) {
    const std::string name = room.name;
    bool inside = folder == name || folder.rfind(name + "/", 0) == 0;
    if (inside && name.size() >= best_len) {
      best = &room;
      best_len = name.size();
    }
  }
  return best;
}

bool is_engine(const Room* room) { return std::string(room->name).rfind("chip", 0) == 0; }

// The room an include path points at: the front door, a room's header, or
// null (a header of the including folder, or a generated one beside it).
const Room* target_of(const std::string& path) {
  if (path == "chip/chip.h") return room_of("chip");
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return nullptr;
  const std::string folder = path.substr(0, slash);
  if (folder == "chip") return nullptr;  // no other header lives there
  return room_of(folder);
}

bool may_include(const Room* from, const Room* to) {
  if (from == to) return true;
  return std::any_of(from->may.begin(), from->may.end(),
                     [&](const char* name) { return name == std::string(to->name); });
}

// Strongly connected components of the engine's folder graph with more than
// one folder (Tarjan).
struct Cycles {
  std::map<std::string, std::set<std::string>> edges;
  std::map<std::string, int> index, low;
  std::vector<std::string> stack;
  std::set<std::string> on_stack;
  int next = 0;
  std::vector<std::set<std::string>> found;

  void visit(const std::string& v) {
    index[v] = low[v] = next++;
    stack.push_back(v);
    on_stack.insert(v);
    for (const std::string& w : edges[v]) {
      if (!index.count(w)) {
        visit(w);
        low[v] = std::min(low[v], low[w]);
      } else if (on_stack.count(w)) {
        low[v] = std::min(low[v], index[w]);
      }
    }
    if (low[v] != index[v]) return;
    std::set<std::string> component;
    std::string w;
    do {
      w = stack.back();
      stack.pop_back();
      on_stack.erase(w);
      component.insert(w);
    } while (w != v);
    if (component.size() > 1) found.push_back(component);
  }

  std::vector<std::set<std::string>> run() {
    std::vector<std::string> nodes;
    for (const auto& [v, _] : edges) nodes.push_back(v);
    for (const std::string& v : nodes) {
      if (!index.count(v)) visit(v);
    }
    return found;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: layer_check <source root>\n");
    return 2;
  }
  const fs::path root = argv[1];
  const std::regex include_line(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
  const std::regex forbidden_system(R"(^(SDL|GLES|GL/|EGL))");
  int bad = 0;
  size_t files = 0;
  Cycles cycles;
  for (const char* top : kScanned) {
    if (!fs::exists(root / top)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
      if (!entry.is_regular_file()) continue;
      const std::string ext = entry.path().extension().string();
      if (ext != ".h" && ext != ".cpp" && ext != ".y" && ext != ".lex") continue;
      const std::string rel = fs::relative(entry.path(), root).generic_string();
      const std::string folder = fs::path(rel).parent_path().generic_string();
      const Room* from = room_of(folder);
      if (!from) {
        std::printf("%s: in no room of the layer table\n", rel.c_str());
        bad++;
        continue;
      }
      files++;
      std::ifstream in(entry.path());
      std::string line;
      for (int number = 1; std::getline(in, line); number++) {
        std::smatch m;
        if (!std::regex_search(line, m, include_line)) continue;
        const std::string path = m[2];
        if (m[1] == "<") {
          if (is_engine(from) && std::regex_search(path, forbidden_system)) {
            std::printf("%s:%d: the engine may not include <%s>\n", rel.c_str(), number,
                        path.c_str());
            bad++;
          }
          continue;
        }
        const Room* to = target_of(path);
        if (!to) continue;
        const bool door = path == "chip/chip.h";
        if (!is_engine(from) && is_engine(to) && !door && !may_include(from, to)) {
          std::printf("%s:%d: %s may not include %s (hosts include the front door, chip/chip.h)\n",
                      rel.c_str(), number, from->name, path.c_str());
          bad++;
        } else if (!may_include(from, to)) {
          std::printf("%s:%d: %s may not include %s\n", rel.c_str(), number, from->name,
                      path.c_str());
          bad++;
        }
        if (is_engine(from) && is_engine(to) && from != to) {
          cycles.edges[from->name].insert(to->name);
          cycles.edges[to->name];
        }
      }
    }
  }
  for (const std::set<std::string>& component : cycles.run()) {
    if (component == std::set<std::string>{"chip/types", "chip/vm"}) continue;
    std::string names;
    for (const std::string& name : component) names += " " + name;
    std::printf("a cycle between engine folders:%s\n", names.c_str());
    bad++;
  }
  if (files == 0) {
    std::printf("no sources under %s\n", root.c_str());
    return 1;
  }
  std::printf("%zu files, %d bad edge(s)\n", files, bad);
  return bad ? 1 : 0;
}
