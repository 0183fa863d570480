#include <cstdio>

namespace vexo::cli {

int RunVersion(int, char**) {
  std::puts("vexo 0.1.0");
  return 0;
}

}  // namespace vexo::cli
