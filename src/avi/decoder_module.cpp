// Loading the decoder module, and OpenDecodingGetter through it.
#include "avi/decoder_module.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef KESTRIX_DECODER_MODULE_INSTALL_DIR
#define KESTRIX_DECODER_MODULE_INSTALL_DIR "../lib/kestrix"
#endif

namespace avi {
namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The folder of the running executable, or empty when /proc does not say.
std::string ExecutableDir() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  std::string exe(buffer, static_cast<std::size_t>(n));
  const std::size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

}  // namespace

std::vector<std::string> DecoderModulePaths() {
  std::vector<std::string> paths;
  const std::string dir = ExecutableDir();
  if (!dir.empty()) {
    paths.push_back(dir + "/" + kDecoderModuleFile);
    paths.push_back(dir + "/" KESTRIX_DECODER_MODULE_INSTALL_DIR "/" + kDecoderModuleFile);
  }
#ifdef KESTRIX_DECODER_MODULE_BUILD_PATH
  paths.push_back(KESTRIX_DECODER_MODULE_BUILD_PATH);
#endif
  return paths;
}

DecoderModule DecoderModule::Load(std::span<const std::string> paths) {
  DecoderModule m;
  std::string reason;
  for (const std::string& path : paths) {
    // A missing candidate is the usual case (only one layout is present);
    // the loader's words are kept for a file that is there but fails.
    if (!IsRegularFile(path)) continue;
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* text = ::dlerror();
      if (reason.empty()) reason = text ? text : path + ": not loadable";
      continue;
    }
    void* entry = ::dlsym(handle, kDecoderModuleEntry);
    if (!entry) {
      if (reason.empty()) reason = path + " has no entry point " + kDecoderModuleEntry;
      ::dlclose(handle);  // nothing from it is in use
      continue;
    }
    // Kept loaded for good: the getters it makes live in its code.
    m.entry_ = reinterpret_cast<DecoderModuleEntry>(entry);
    m.path_ = path;
    return m;
  }
  if (reason.empty()) {
    reason = "no such file";
    if (!paths.empty()) {
      reason += " (looked for";
      for (std::size_t i = 0; i < paths.size(); ++i) reason += (i ? ", " : " ") + paths[i];
      reason += ")";
    }
  }
  m.problem_ = std::string("the decoder module ") + kDecoderModuleFile + " cannot be loaded: " + reason;
  return m;
}

std::unique_ptr<FrameGetter> DecoderModule::Open(const PictureStream& s, std::string* why) const {
  std::string ignored;
  if (!why) why = &ignored;
  if (!entry_) {
    *why = problem_;
    return nullptr;
  }
  return std::unique_ptr<FrameGetter>(entry_(kDecoderModuleVersion, &s, why));
}

std::unique_ptr<FrameGetter> OpenDecodingGetter(const PictureStream& s, std::string* why) {
  // Loaded on the first compressed stream, once for the process.
  static const DecoderModule module = DecoderModule::Load(DecoderModulePaths());
  return module.Open(s, why);
}

}  // namespace avi
