#include "platform/disk.h"

#include <fcntl.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace platform {

namespace {

constexpr size_t kIdentifySize = 512;
constexpr size_t kPageSize = 192;
constexpr unsigned kTimeoutMs = 2000;

// Closes the device in every case.
class Device {
 public:
  explicit Device(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
  ~Device() {
    if (fd_ >= 0) close(fd_);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// One SCSI command that reads data from the device; the count of bytes
// received, or -1 when the command failed.
long sendReadCommand(int fd, const uint8_t* cdb, size_t cdbLength, uint8_t* data, size_t dataLength) {
  std::array<uint8_t, 32> sense{};
  sg_io_hdr_t request{};
  request.interface_id = 'S';
  request.dxfer_direction = SG_DXFER_FROM_DEV;
  request.cmd_len = static_cast<unsigned char>(cdbLength);
  request.cmdp = const_cast<uint8_t*>(cdb);
  request.dxfer_len = static_cast<unsigned>(dataLength);
  request.dxferp = data;
  request.mx_sb_len = static_cast<unsigned char>(sense.size());
  request.sbp = sense.data();
  request.timeout = kTimeoutMs;
  if (ioctl(fd, SG_IO, &request) != 0) return -1;
  if ((request.info & SG_INFO_OK_MASK) != SG_INFO_OK) return -1;
  return static_cast<long>(dataLength) - std::max(request.resid, 0);
}

// Disks in the order the kernel named them (sda, sdb, ..., sdz, sdaa).
bool kernelOrder(const std::string& a, const std::string& b) {
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

std::string firstAtaDisk() {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/block", error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("sd") || name.starts_with("hd")) names.push_back(name);
  }
  if (names.empty()) return {};
  return "/dev/" + *std::min_element(names.begin(), names.end(), kernelOrder);
}

std::string identifyThroughPassThrough(int fd) {
  // ATA PASS-THROUGH (16): PIO data-in, one 512-byte block, IDENTIFY DEVICE.
  const uint8_t cdb[16] = {0x85, 4 << 1, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xEC};
  std::string block(kIdentifySize, '\0');
  const long received =
      sendReadCommand(fd, cdb, sizeof cdb, reinterpret_cast<uint8_t*>(block.data()), block.size());
  return received == static_cast<long>(kIdentifySize) ? block : std::string();
}

std::string identifyThroughDriver(int fd) {
  std::string block(kIdentifySize, '\0');
  if (ioctl(fd, HDIO_GET_IDENTITY, block.data()) != 0) return {};
  // The driver hands the serial number already in reading order; put its
  // words back as the drive sends them so one decoder serves both ways.
  for (size_t i = 20; i < 40; i += 2) std::swap(block[i], block[i + 1]);
  return block;
}

// The whole disk behind a block device number: a partition's parent.
std::string diskOfDeviceNumber(dev_t device) {
  if (major(device) == 0) return {};
  std::error_code error;
  const std::filesystem::path sys = std::filesystem::canonical(
      "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device)), error);
  if (error) return {};
  const std::filesystem::path disk = std::filesystem::exists(sys / "partition") ? sys.parent_path() : sys;
  return "/dev/" + disk.filename().string();
}

// The mount source of "/" when the file system does not tell its device
// (btrfs gives every subvolume an anonymous number).
dev_t rootMountSource() {
  std::ifstream mounts("/proc/self/mountinfo");
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string id, parent, numbers, root, mountPoint;
    fields >> id >> parent >> numbers >> root >> mountPoint;
    if (mountPoint != "/") continue;
    const size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string type, source;
    tail >> type >> source;
    struct stat info {};
    if (source.starts_with("/dev/") && stat(source.c_str(), &info) == 0 && S_ISBLK(info.st_mode)) {
      return info.st_rdev;
    }
  }
  return 0;
}

std::string rootDisk() {
  struct stat info {};
  if (stat("/", &info) != 0) return {};
  std::string disk = diskOfDeviceNumber(info.st_dev);
  if (disk.empty()) disk = diskOfDeviceNumber(rootMountSource());
  return disk;
}

}  // namespace

std::string readFirstDiskIdentify() {
  const std::string path = firstAtaDisk();
  if (path.empty()) return {};
  Device device(path);
  if (device.fd() < 0) return {};
  std::string block = identifyThroughPassThrough(device.fd());
  if (block.empty()) block = identifyThroughDriver(device.fd());
  return block;
}

std::string readRootDiskSerialPage() {
  const std::string path = rootDisk();
  if (path.empty()) return {};
  Device device(path);
  if (device.fd() < 0) return {};
  // INQUIRY, vital product data, page 0x80, allocation length 192.
  const uint8_t cdb[6] = {0x12, 0x01, 0x80, 0x00, kPageSize, 0x00};
  std::string page(kPageSize, '\0');
  const long received =
      sendReadCommand(device.fd(), cdb, sizeof cdb, reinterpret_cast<uint8_t*>(page.data()), page.size());
  if (received <= 0) return {};
  page.resize(static_cast<size_t>(received));
  return page;
}

}  // namespace platform
