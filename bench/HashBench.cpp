// Digest throughput: in memory, and over a file named by FTPC_HASH_BENCH_FILE (read through a
// file stream, as file verification does). With FTPC_BENCH_REFERENCES the same inputs also go
// through zlib's crc32 and OpenSSL's MD5 and SHA-1, read the same way, for comparison.
// bench/hash-bench.sh builds this, prepares a 1 GiB file and compares with the openssl tool.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "global/IdStream.h"
#include "hash/IdHashCRC.h"
#include "hash/IdHashMessageDigest.h"
#include "hash/IdHashSHA1.h"

#ifdef FTPC_BENCH_REFERENCES
#include <openssl/evp.h>
#include <zlib.h>
#endif

namespace {

using namespace ftpc;

constexpr size_t kMemorySize = 64 << 20;
constexpr size_t kReadBlock = 256 * 1024; // the library's own read size, for the references

const TBytes& MemoryInput() {
  static const TBytes input = [] {
    TBytes bytes(kMemorySize);
    std::mt19937_64 random(1);
    for (uint8_t& byte : bytes) {
      byte = static_cast<uint8_t>(random());
    }
    return bytes;
  }();
  return input;
}

std::unique_ptr<TIdHash> MakeHash(const std::string& AName) {
  if (AName == "CRC32") {
    return std::make_unique<TIdHashCRC32>();
  }
  if (AName == "MD5") {
    return std::make_unique<TIdHashMessageDigest5>();
  }
  if (AName == "MD4") {
    return std::make_unique<TIdHashMessageDigest4>();
  }
  return std::make_unique<TIdHashSHA1>();
}

void HashMemory(benchmark::State& AState, const std::string& AName, bool AAccelerated) {
  SetHashAccelerationEnabled(AAccelerated);
  auto hash = MakeHash(AName);
  for (auto _ : AState) {
    benchmark::DoNotOptimize(hash->HashBytes(MemoryInput()));
  }
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations() * kMemorySize));
  SetHashAccelerationEnabled(true);
}

void HashFile(benchmark::State& AState, const std::string& APath, const std::string& AName,
              bool AAccelerated) {
  SetHashAccelerationEnabled(AAccelerated);
  auto hash = MakeHash(AName);
  int64_t size = 0;
  for (auto _ : AState) {
    TIdReadFileNonExclusiveStream stream(APath);
    size = stream.Size();
    benchmark::DoNotOptimize(hash->HashStream(stream));
  }
  AState.SetBytesProcessed(AState.iterations() * size);
  SetHashAccelerationEnabled(true);
}

#ifdef FTPC_BENCH_REFERENCES

// Feeds the file to AConsume in kReadBlock pieces through one buffer; returns its size.
int64_t ReadFileInBlocks(const std::string& APath,
                         const std::function<void(const uint8_t*, size_t)>& AConsume) {
  const int handle = ::open(APath.c_str(), O_RDONLY | O_CLOEXEC);
  if (handle < 0) {
    throw std::runtime_error("cannot open " + APath);
  }
  const auto buffer = std::make_unique<uint8_t[]>(kReadBlock);
  int64_t total = 0;
  ssize_t got = 0;
  while ((got = ::read(handle, buffer.get(), kReadBlock)) > 0) {
    AConsume(buffer.get(), static_cast<size_t>(got));
    total += got;
  }
  ::close(handle);
  return total;
}

void ZlibCrc32File(benchmark::State& AState, const std::string& APath) {
  int64_t size = 0;
  for (auto _ : AState) {
    uLong crc = crc32(0L, Z_NULL, 0);
    size = ReadFileInBlocks(APath, [&](const uint8_t* AData, size_t ALength) {
      crc = crc32(crc, AData, static_cast<uInt>(ALength));
    });
    benchmark::DoNotOptimize(crc);
  }
  AState.SetBytesProcessed(AState.iterations() * size);
}

void OpenSSLFile(benchmark::State& AState, const std::string& APath, const EVP_MD* AType) {
  int64_t size = 0;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  for (auto _ : AState) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestInit_ex(context, AType, nullptr);
    size = ReadFileInBlocks(APath, [&](const uint8_t* AData, size_t ALength) {
      EVP_DigestUpdate(context, AData, ALength);
    });
    EVP_DigestFinal_ex(context, digest, &length);
    benchmark::DoNotOptimize(digest);
  }
  EVP_MD_CTX_free(context);
  AState.SetBytesProcessed(AState.iterations() * size);
}

void ZlibCrc32Memory(benchmark::State& AState) {
  for (auto _ : AState) {
    benchmark::DoNotOptimize(
        crc32(crc32(0L, Z_NULL, 0), MemoryInput().data(), static_cast<uInt>(kMemorySize)));
  }
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations() * kMemorySize));
}

void OpenSSLMemory(benchmark::State& AState, const EVP_MD* AType) {
  for (auto _ : AState) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(MemoryInput().data(), kMemorySize, digest, &length, AType, nullptr);
    benchmark::DoNotOptimize(digest);
  }
  AState.SetBytesProcessed(static_cast<int64_t>(AState.iterations() * kMemorySize));
}

#endif // FTPC_BENCH_REFERENCES

void RegisterMemoryBenchmarks() {
  for (const char* name : {"CRC32", "MD4", "MD5", "SHA1"}) {
    benchmark::RegisterBenchmark((std::string("Memory/") + name).c_str(), HashMemory, name, true)
        ->Unit(benchmark::kMillisecond);
  }
  for (const char* name : {"CRC32", "SHA1"}) {
    benchmark::RegisterBenchmark((std::string("Memory/") + name + "_portable").c_str(), HashMemory,
                                 name, false)
        ->Unit(benchmark::kMillisecond);
  }
#ifdef FTPC_BENCH_REFERENCES
  benchmark::RegisterBenchmark("Memory/zlib_crc32", ZlibCrc32Memory)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Memory/openssl_md5", OpenSSLMemory, EVP_md5())
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Memory/openssl_sha1", OpenSSLMemory, EVP_sha1())
      ->Unit(benchmark::kMillisecond);
#endif
}

void RegisterFileBenchmarks(const std::string& APath) {
  // A few whole passes over a large file are plenty; the first one also warms the cache.
  const auto configure = [](benchmark::internal::Benchmark* ABenchmark) {
    ABenchmark->Unit(benchmark::kMillisecond)->Iterations(3);
  };
  for (const char* name : {"CRC32", "MD5", "SHA1"}) {
    configure(benchmark::RegisterBenchmark((std::string("File/") + name).c_str(), HashFile, APath,
                                           name, true));
  }
  for (const char* name : {"CRC32", "SHA1"}) {
    configure(benchmark::RegisterBenchmark((std::string("File/") + name + "_portable").c_str(),
                                           HashFile, APath, name, false));
  }
#ifdef FTPC_BENCH_REFERENCES
  configure(benchmark::RegisterBenchmark("File/zlib_crc32", ZlibCrc32File, APath));
  configure(benchmark::RegisterBenchmark("File/openssl_md5", OpenSSLFile, APath, EVP_md5()));
  configure(benchmark::RegisterBenchmark("File/openssl_sha1", OpenSSLFile, APath, EVP_sha1()));
#endif
}

} // namespace

int main(int argc, char** argv) {
  MemoryInput(); // generated before any timing starts
  RegisterMemoryBenchmarks();
  if (const char* path = std::getenv("FTPC_HASH_BENCH_FILE"); path != nullptr && *path != '\0') {
    RegisterFileBenchmarks(path);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
