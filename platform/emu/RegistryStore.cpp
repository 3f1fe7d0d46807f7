#include "platform/emu/RegistryStore.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// False for anything that the writer does not produce, so a damaged file is never half-read.
bool FromHex(const std::string& text, std::vector<BYTE>* bytes) {
  bytes->clear();
  if (text == "-") return true;
  if (text.empty() || text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<BYTE>(high * 16 + low));
  }
  return true;
}

// Reads a whole hive file into `root`; false when any line is malformed or the end mark that
// closes every complete file is missing.
bool Parse(std::istream& in, RegistryKey* root) {
  std::string line;
  RegistryKey* current = root;
  while (std::getline(in, line)) {
    if (line == "E") return !std::getline(in, line);
    std::istringstream fields(line);
    std::string tag, first, extra;
    std::vector<BYTE> raw;
    if (!(fields >> tag >> first) || !FromHex(first, &raw)) return false;
    if (tag == "K") {
      if (fields >> extra) return false;
      current = root;
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
      std::vector<BYTE> bytes;
      if (!(fields >> type >> data) || (fields >> extra) || !FromHex(data, &bytes)) return false;
      current->values.push_back({std::string(raw.begin(), raw.end()), type, std::move(bytes)});
    } else {
      return false;
    }
  }
  return false;  // no end mark: the file was cut short
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

// Every save renames a new file into place, so the inode number changes with each write even
// when two writes fall into one tick of the file system's clock.
long long StampOf(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec +
         static_cast<long long>(info.st_size) * 7919 +
         static_cast<long long>(info.st_ino) * 1000003LL;
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

static std::string RegistryFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string folder;
  if (config != nullptr && config[0] != '\0') {
    folder = config;
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home != nullptr ? home : "/tmp") + "/.config";
  }
  return folder + "/kx7-emulation/registry/";
}

std::string RegistryHive::FilePath() const { return RegistryFolder() + fileName; }

void RegistryHive::Load(const std::string& path) {
  root = RegistryKey{};
  loadedPath = path;
  loadedStamp = StampOf(path);
  std::ifstream in(path);
  if (in && !Parse(in, &root)) {
    // A damaged file (not one this code wrote) counts as an empty hive; the next change
    // replaces it.
    std::fprintf(stderr, "registry file %s is damaged; its keys are ignored\n", path.c_str());
    root = RegistryKey{};
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
    out << "E\n";
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      return;
    }
  }
  if (FILE* file = std::fopen(temporary.c_str(), "r+")) {
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

RegistryGuard::RegistryGuard() : lock_(RegistryLock()) {
  const std::string folder = RegistryFolder();
  MakeFolders(folder);
  file_ = open((folder + "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (file_ >= 0) {
    while (flock(file_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
}

RegistryGuard::~RegistryGuard() {
  if (file_ >= 0) close(file_);  // closing the file releases the lock
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
