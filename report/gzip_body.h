// Gzip compression of request bodies into a buffer reserved once, with zlib's stream state kept
// for the run.
#pragma once

#include <cstddef>
#include <memory>

class GzipBody {
 public:
  GzipBody() = default;
  ~GzipBody();
  GzipBody(const GzipBody&) = delete;
  GzipBody& operator=(const GzipBody&) = delete;

  // Sets up zlib's state and an output buffer big enough for any body of at most `maxInput`
  // bytes. False when memory is not there. Allocates; later calls to Compress never do.
  bool Reserve(size_t maxInput);

  // Compresses `length` bytes of `text` as one gzip member. Returns the compressed length (the
  // bytes are at data()), or 0 when not reserved, the input is longer than reserved, or zlib
  // failed.
  size_t Compress(const char* text, size_t length);

  const char* data() const { return out_.get(); }

 private:
  void* stream_ = nullptr;  // z_stream, kept opaque here
  std::unique_ptr<char[]> out_;
  size_t out_size_ = 0;
  size_t max_input_ = 0;
};
