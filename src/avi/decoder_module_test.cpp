// Finding and loading the decoder module.
#include "avi/decoder_module.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kBuiltModule = KESTRIX_DECODER_MODULE_BUILD_PATH;

std::string TempFile(const std::string& name, const std::string& bytes) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("kestrix_module_test_" + std::to_string(::getpid()) + "_" + name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path.string();
}

// A shared library that is certainly there and lacks the entry point: libc.
std::string LibcPath() {
  Dl_info info{};
  EXPECT_NE(::dladdr(reinterpret_cast<void*>(&std::fclose), &info), 0);
  return info.dli_fname ? info.dli_fname : "";
}

TEST(DecoderModule, TheBuiltModuleLoads) {
  const std::vector<std::string> paths = {kBuiltModule};
  avi::DecoderModule m = avi::DecoderModule::Load(paths);
  EXPECT_TRUE(m.ok()) << m.problem();
  EXPECT_EQ(m.path(), kBuiltModule);
  EXPECT_EQ(m.problem(), "");
}

TEST(DecoderModule, TheProgramLooksInTheBuildTreeLast) {
  const std::vector<std::string> paths = avi::DecoderModulePaths();
  ASSERT_FALSE(paths.empty());
  EXPECT_EQ(paths.back(), kBuiltModule);
  EXPECT_TRUE(avi::DecoderModule::Load(paths).ok());
}

struct BadCase {
  const char* name;
  std::vector<std::string> (*paths)();
  const char* reason;  // a piece of the problem text
};

const BadCase kBadCases[] = {
    {"NothingThere", [] { return std::vector<std::string>{"/nonexistent/kestrix-decoders.so"}; },
     "no such file (looked for /nonexistent/kestrix-decoders.so)"},
    {"NoPathsAtAll", [] { return std::vector<std::string>{}; }, "no such file"},
    {"NotALibrary", [] { return std::vector<std::string>{TempFile("text.so", "not a library\n")}; },
     "kestrix_module_test_"},
    {"NoEntryPoint", [] { return std::vector<std::string>{LibcPath()}; },
     "has no entry point kestrix_open_decoding_getter"},
};

class DecoderModuleFails : public ::testing::TestWithParam<BadCase> {};

TEST_P(DecoderModuleFails, SaysWhyAndGivesNoGetter) {
  const std::vector<std::string> paths = GetParam().paths();
  avi::DecoderModule m = avi::DecoderModule::Load(paths);
  EXPECT_FALSE(m.ok());
  EXPECT_EQ(m.path(), "");
  EXPECT_EQ(m.problem().rfind("the decoder module kestrix-decoders.so cannot be loaded: ", 0), 0u)
      << m.problem();
  EXPECT_NE(m.problem().find(GetParam().reason), std::string::npos) << m.problem();

  std::string why;
  avi::PictureStream stream;
  EXPECT_EQ(m.Open(stream, &why), nullptr);
  EXPECT_EQ(why, m.problem());
  for (const std::string& p : paths) {
    if (p.find("kestrix_module_test_") != std::string::npos) std::remove(p.c_str());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DecoderModuleFails, ::testing::ValuesIn(kBadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DecoderModule, ABadCandidateBeforeAGoodOneIsPassedOver) {
  const std::string junk = TempFile("junk.so", "junk");
  const std::vector<std::string> paths = {"/nonexistent/kestrix-decoders.so", junk, LibcPath(),
                                          kBuiltModule};
  avi::DecoderModule m = avi::DecoderModule::Load(paths);
  EXPECT_TRUE(m.ok()) << m.problem();
  EXPECT_EQ(m.path(), kBuiltModule);
  std::remove(junk.c_str());
}

TEST(DecoderModule, AModuleOfAnotherVersionRefuses) {
  void* handle = ::dlopen(kBuiltModule.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << ::dlerror();
  auto entry = reinterpret_cast<avi::DecoderModuleEntry>(::dlsym(handle, avi::kDecoderModuleEntry));
  ASSERT_NE(entry, nullptr);
  avi::PictureStream stream;
  std::string why;
  EXPECT_EQ(entry(avi::kDecoderModuleVersion + 1, &stream, &why), nullptr);
  EXPECT_NE(why.find("another build"), std::string::npos) << why;
  // The right version with an empty stream: refused for the stream, not the version.
  why.clear();
  EXPECT_EQ(entry(avi::kDecoderModuleVersion, &stream, &why), nullptr);
  EXPECT_EQ(why.find("another build"), std::string::npos) << why;
  EXPECT_FALSE(why.empty());
  // Not closed: the loader of this process may share the handle.
}

}  // namespace
