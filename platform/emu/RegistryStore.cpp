#include "platform/emu/RegistryStore.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/emu/registry.h"

namespace emu {
namespace {

std::string ToHex(const void* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  const auto* bytes = static_cast<const BYTE*>(data);
  for (size_t i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text.empty() ? "-" : text;
}

std::vector<BYTE> FromHex(const std::string& text) {
  std::vector<BYTE> bytes;
  if (text == "-") return bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(static_cast<BYTE>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

void WriteKey(std::ostream& out, const RegistryKey& key, const std::string& path) {
  out << "K " << ToHex(path.data(), path.size()) << "\n";
  for (const RegistryValue& value : key.values) {
    out << "V " << ToHex(value.name.data(), value.name.size()) << " " << value.type << " "
        << ToHex(value.data.data(), value.data.size()) << "\n";
  }
  for (const auto& child : key.children) {
    WriteKey(out, *child, path.empty() ? child->name : path + "\\" + child->name);
  }
}

long long StampOf(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec +
         static_cast<long long>(info.st_size) * 7919;
}

void MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0700);
  }
}

}  // namespace

RegistryKey* RegistryKey::Child(const std::string& childName) const {
  for (const auto& child : children) {
    if (SameName(child->name, childName)) return child.get();
  }
  return nullptr;
}

RegistryValue* RegistryKey::Value(const std::string& valueName) {
  for (RegistryValue& value : values) {
    if (SameName(value.name, valueName)) return &value;
  }
  return nullptr;
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

std::string RegistryHive::FilePath() const {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string folder;
  if (config != nullptr && config[0] != '\0') {
    folder = config;
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home != nullptr ? home : "/tmp") + "/.config";
  }
  return folder + "/kx7-emulation/registry/" + fileName;
}

void RegistryHive::Load(const std::string& path) {
  root = RegistryKey{};
  loadedPath = path;
  loadedStamp = StampOf(path);
  std::ifstream in(path);
  std::string line;
  RegistryKey* current = &root;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string tag, first;
    fields >> tag >> first;
    if (tag == "K") {
      const std::vector<BYTE> raw = FromHex(first);
      current = &root;
      for (const std::string& part : SplitPath(std::string(raw.begin(), raw.end()))) {
        RegistryKey* child = current->Child(part);
        if (child == nullptr) {
          current->children.push_back(std::make_unique<RegistryKey>());
          child = current->children.back().get();
          child->name = part;
        }
        current = child;
      }
    } else if (tag == "V") {
      DWORD type = 0;
      std::string data;
      if (!(fields >> type >> data)) continue;  // a damaged line is skipped, not half-read
      const std::vector<BYTE> name = FromHex(first);
      current->values.push_back({std::string(name.begin(), name.end()), type, FromHex(data)});
    }
  }
  for (const std::string& standard : standardKeys) {
    if (root.Child(standard) != nullptr) continue;
    root.children.push_back(std::make_unique<RegistryKey>());
    root.children.back()->name = standard;
  }
}

RegistryKey& RegistryHive::Root() {
  const std::string path = FilePath();
  if (path != loadedPath || StampOf(path) != loadedStamp) Load(path);
  return root;
}

RegistryKey* RegistryHive::Find(const std::vector<std::string>& path) {
  RegistryKey* key = &Root();
  for (const std::string& part : path) {
    key = key->Child(part);
    if (key == nullptr) return nullptr;
  }
  return key;
}

void RegistryHive::Save() {
  const std::string path = FilePath();
  MakeFolders(path);
  const std::string temporary = path + ".tmp." + std::to_string(getpid());
  {
    std::ofstream out(temporary, std::ios::trunc);
    WriteKey(out, root, "");
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      return;
    }
  }
  if (FILE* file = std::fopen(temporary.c_str(), "r")) {
    fsync(fileno(file));
    std::fclose(file);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) std::remove(temporary.c_str());
  loadedPath = path;
  loadedStamp = StampOf(path);
}

std::mutex& RegistryLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

RegistryHive* HiveOf(HKEY root) {
  static RegistryHive* classes = new RegistryHive("HKCR.reg", {"CLSID"});
  static RegistryHive* user = new RegistryHive("HKCU.reg", {"Software"});
  static RegistryHive* machine = new RegistryHive("HKLM.reg", {"SOFTWARE", "SYSTEM"});
  if (root == HKEY_CLASSES_ROOT) return classes;
  if (root == HKEY_CURRENT_USER) return user;
  if (root == HKEY_LOCAL_MACHINE) return machine;
  return nullptr;
}

}  // namespace emu
