// glinthost: the reference host. Loads GlintUtil.dll from its own folder,
// calls Start with a ReferenceHost and runs one command through the shim.
//
//   glinthost [--config FILE]... [COMMAND]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "GlintLibrary.h"
#include "ReferenceHost.h"
#include "engine/SetupEngine.h"
#include "foundation/WideText.h"

namespace {

void Print(const std::string& text) { std::fputs(text.c_str(), stdout); }

void Usage() {
  Print(
      "usage: glinthost [--config FILE]... [COMMAND]\n"
      "commands:\n"
      "  info      show the engine's version, product codes and the host configuration\n"
      "  help      this text\n");
}

std::string WindowsVersion() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&info)) return "unknown";
#pragma GCC diagnostic pop
  return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
         std::to_string(info.dwBuildNumber);
}

int Info(GlintBrokerShim* shim, const ReferenceHost& host) {
  SetupEngine* engine = shim->GetEngine();
  Print("engine version: " + ToUtf8(engine->ownVersion) + "\n");
  Print("windows version seen by the host: " + WindowsVersion() + "\n");
  Print("uninstall key: " + ToUtf8(engine->uninstallKey) + "\n");
  Print("uninstall key (32-bit view): " + ToUtf8(engine->uninstallKey32) + "\n");
  for (const MString& code : engine->productCodes) Print("product code: " + ToUtf8(code) + "\n");
  Print("host configuration:\n");
  int index = 0;
  for (const MConfigNode* text = host.Configuration(); text != nullptr; text = text->next) {
    Print("  text " + std::to_string(index++) + ":\n");
    Print(DescribeConfiguration(text->children, 2));
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  ReferenceHost host;
  std::vector<MString> args;
  bool configured = false;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--config") == 0 && i + 1 < argc) {
      MString path = FromWide(argv[++i]);
      if (!host.AddConfigurationFile(path)) {
        std::fprintf(stderr, "glinthost: cannot read configuration %s (error %lu)\n",
                     ToUtf8(path).c_str(), GetLastError());
        return 2;
      }
      configured = true;
    } else {
      args.push_back(FromWide(argv[i]));
    }
  }
  if (!configured) {
    MString defaultConfig = ExecutableFolder();
    defaultConfig.JoinPath(u'\\', MString(u"glinthost.cfg"));
    host.AddConfigurationFile(defaultConfig);
  }
  MString command = args.empty() ? MString(u"info") : args[0];
  if (Equals(command, MString(u"help"))) {
    Usage();
    return 0;
  }

  GlintLibrary library;
  if (!library.Load()) {
    std::fprintf(stderr, "glinthost: cannot load %s (error %lu)\n",
                 ToUtf8(library.Path()).c_str(), library.Error());
    return 3;
  }
  host.SetResourceModule(library.Module());
  ShimHandle shim(library.Start()(&host));
  if (!shim) {
    std::fprintf(stderr, "glinthost: Start returned no shim\n");
    return 4;
  }

  if (Equals(command, MString(u"info"))) return Info(shim.Get(), host);
  std::fprintf(stderr, "glinthost: unknown command %s\n", ToUtf8(command).c_str());
  Usage();
  return 2;
}
