// Every test program runs in a home of its own: the shared log and every
// other file the code under test keeps live under $FLUVANE_HOME. CTest runs
// each test case as its own process, many at once, so each process makes a
// fresh temporary home; none writes into the user's data directory, and no
// two processes rotate each other's logs.
// GoogleTest's TempDir() is a folder of the same process's own too
// (TEST_TMPDIR, beside the home, which some tests list): tests that write fixed names there never meet the
// files of another test, another test program or another checkout testing
// at the same time.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string g_temporaryHome;
std::string g_temporaryScratch;

void removeTemporaryHome() {
  std::error_code ignored;
  std::filesystem::remove_all(g_temporaryHome, ignored);
  if (!g_temporaryScratch.empty()) std::filesystem::remove_all(g_temporaryScratch, ignored);
}

const bool g_homeReady = [] {
  std::string pattern = (std::filesystem::temp_directory_path() / "fluvane-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return false;
  g_temporaryHome = pattern;
  setenv("FLUVANE_HOME", g_temporaryHome.c_str(), 1);
  std::string scratch = (std::filesystem::temp_directory_path() / "fluvane-tmp-XXXXXX").string();
  if (mkdtemp(scratch.data())) {
    g_temporaryScratch = scratch;
    setenv("TEST_TMPDIR", g_temporaryScratch.c_str(), 1);
  }
  // Registered before the shared log's own exit flush, so it runs after it.
  std::atexit(removeTemporaryHome);
  return true;
}();

}  // namespace
