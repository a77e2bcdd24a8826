#include "report/gzip_body.h"

#include <zlib.h>

#include <new>

namespace {

// gzip framing (windowBits 15 plus 16); the bodies are small, so the best level costs little.
constexpr int kGzipWindowBits = 15 + 16;
constexpr int kMemLevel = 8;

}  // namespace

GzipBody::~GzipBody() {
  if (stream_ == nullptr) return;
  auto* stream = static_cast<z_stream*>(stream_);
  deflateEnd(stream);
  delete stream;
}

bool GzipBody::Reserve(size_t maxInput) {
  if (stream_ != nullptr) return max_input_ >= maxInput;
  auto* stream = new (std::nothrow) z_stream{};
  if (stream == nullptr) return false;
  if (deflateInit2(stream, Z_BEST_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kMemLevel,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    delete stream;
    return false;
  }
  // deflateBound leaves out the gzip header and trailer beyond zlib's own: 18 bytes more.
  out_size_ = deflateBound(stream, static_cast<uLong>(maxInput)) + 18;
  out_.reset(new (std::nothrow) char[out_size_]);
  if (!out_) {
    deflateEnd(stream);
    delete stream;
    return false;
  }
  stream_ = stream;
  max_input_ = maxInput;
  return true;
}

size_t GzipBody::Compress(const char* text, size_t length) {
  if (stream_ == nullptr || length > max_input_) return 0;
  auto* stream = static_cast<z_stream*>(stream_);
  if (deflateReset(stream) != Z_OK) return 0;
  stream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text));
  stream->avail_in = static_cast<uInt>(length);
  stream->next_out = reinterpret_cast<Bytef*>(out_.get());
  stream->avail_out = static_cast<uInt>(out_size_);
  if (deflate(stream, Z_FINISH) != Z_STREAM_END) return 0;
  return out_size_ - stream->avail_out;
}
