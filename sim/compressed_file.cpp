#include "sim/compressed_file.h"

#include <lzma.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace ktq::sim {

namespace {

constexpr unsigned char kXzMagic[] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
constexpr unsigned char kGzipMagic[] = {0x1F, 0x8B};

bool StartsWith(const std::string& data, const unsigned char* magic, size_t size) {
  return data.size() >= size && std::memcmp(data.data(), magic, size) == 0;
}

bool ExpandXz(const std::string& data, std::string& text, std::string& error, size_t limit) {
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&stream, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK) {
    error = "cannot start the xz decoder";
    return false;
  }
  stream.next_in = reinterpret_cast<const uint8_t*>(data.data());
  stream.avail_in = data.size();
  uint8_t buffer[1 << 16];
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) {
    stream.next_out = buffer;
    stream.avail_out = sizeof buffer;
    ret = lzma_code(&stream, LZMA_FINISH);
    text.append(reinterpret_cast<char*>(buffer), sizeof buffer - stream.avail_out);
    if (text.size() > limit) ret = LZMA_MEMLIMIT_ERROR;
  }
  lzma_end(&stream);
  if (ret == LZMA_STREAM_END) return true;
  error = ret == LZMA_MEMLIMIT_ERROR ? "expands beyond " + std::to_string(limit) + " bytes"
                                     : "damaged xz data";
  return false;
}

bool ExpandGzip(const std::string& data, std::string& text, std::string& error, size_t limit) {
  z_stream stream{};
  // 16 + window bits: a gzip header and trailer, checked.
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
    error = "cannot start the gzip decoder";
    return false;
  }
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());  // traces are far below 4 GiB; longer ones fail below
  Bytef buffer[1 << 16];
  int ret = Z_OK;
  while (ret == Z_OK) {
    stream.next_out = buffer;
    stream.avail_out = sizeof buffer;
    ret = inflate(&stream, Z_NO_FLUSH);
    text.append(reinterpret_cast<char*>(buffer), sizeof buffer - stream.avail_out);
    if (text.size() > limit) ret = Z_MEM_ERROR;
    // No progress with input left means the stream is cut short.
    if (ret == Z_BUF_ERROR) break;
  }
  inflateEnd(&stream);
  if (ret == Z_STREAM_END) return true;
  error = ret == Z_MEM_ERROR ? "expands beyond " + std::to_string(limit) + " bytes"
                             : "damaged gzip data";
  return false;
}

}  // namespace

bool ExpandIfCompressed(const std::string& data, std::string& text, std::string& error, size_t limit) {
  text.clear();
  if (StartsWith(data, kXzMagic, sizeof kXzMagic)) return ExpandXz(data, text, error, limit);
  if (StartsWith(data, kGzipMagic, sizeof kGzipMagic)) return ExpandGzip(data, text, error, limit);
  text = data;
  return true;
}

bool ReadPossiblyCompressedFile(const std::string& path, std::string& text, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream data;
  data << in.rdbuf();
  if (in.bad()) {
    error = path + ": read error";
    return false;
  }
  if (!ExpandIfCompressed(data.str(), text, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

bool WriteXzFile(const std::string& path, const std::string& text, std::string& error) {
  std::string packed(lzma_stream_buffer_bound(text.size()), '\0');
  size_t used = 0;
  if (lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const uint8_t*>(text.data()),
                              text.size(), reinterpret_cast<uint8_t*>(packed.data()), &used,
                              packed.size()) != LZMA_OK) {
    error = path + ": cannot compress";
    return false;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(packed.data(), static_cast<std::streamsize>(used));
  out.close();
  if (!out) {
    error = path + ": cannot write: " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace ktq::sim
