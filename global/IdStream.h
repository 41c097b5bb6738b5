// Seekable byte streams with 64-bit sizes: the abstract TStream, an in-memory stream, file
// streams with fixed open and share modes, a stream base that works on byte arrays, and the
// helpers that move byte arrays in and out of streams.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "global/IdGlobal.h"

namespace ftpc {

enum TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

FTPC_DECLARE_EXCEPTION(EIdStreamError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdFileStreamError, EIdStreamError);
FTPC_DECLARE_EXCEPTION(EIdFileCreateError, EIdFileStreamError);
FTPC_DECLARE_EXCEPTION(EIdFileOpenError, EIdFileStreamError);

class TStream : public TObject {
public:
  // Reads up to ACount bytes; returns how many were read (0 at the end).
  virtual int64_t Read(void* ABuffer, int64_t ACount) = 0;
  // Writes up to ACount bytes; returns how many were written.
  virtual int64_t Write(const void* ABuffer, int64_t ACount) = 0;
  // Moves the position; returns the new position.
  virtual int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) = 0;
  virtual void SetSize(int64_t ASize) = 0;
  virtual int64_t Size();

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t APosition) { Seek(APosition, soBeginning); }

  // Read/write exactly ACount bytes or raise EIdStreamError.
  void ReadBuffer(void* ABuffer, int64_t ACount);
  void WriteBuffer(const void* ABuffer, int64_t ACount);

  std::string ClassName() const override { return "TStream"; }
};

class TMemoryStream : public TStream {
public:
  int64_t Read(void* ABuffer, int64_t ACount) override;
  int64_t Write(const void* ABuffer, int64_t ACount) override;
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
  void SetSize(int64_t ASize) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }

  const TBytes& Memory() const { return FData; }
  TBytes& Memory() { return FData; }
  void Clear();

  std::string ClassName() const override { return "TMemoryStream"; }

private:
  TBytes FData;
  int64_t FPosition = 0;
};

// A stream over an open file descriptor, which it owns and closes. Read and Write move
// everything asked for (short only at the end of the file); failures raise EIdFileStreamError.
class TFileStream : public TStream {
public:
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* ABuffer, int64_t ACount) override;
  int64_t Write(const void* ABuffer, int64_t ACount) override;
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
  void SetSize(int64_t ASize) override;
  int64_t Size() override;

  int Handle() const { return FHandle; }
  const std::string& FileName() const { return FFileName; }

  std::string ClassName() const override { return "TFileStream"; }

protected:
  // Takes ownership of an open descriptor.
  TFileStream(int AHandle, std::string AFileName);

private:
  [[noreturn]] void RaiseIOError(std::string_view AOperation, const std::error_code& AError) const;

  int FHandle;
  std::string FFileName;
};

// True when anything is at AFileName, a dangling symbolic link included: links are never
// followed, so a download that must not overwrite never writes through one.
bool LocalPathExists(const std::string& AFileName);

// The four ways the FTP client opens local files. Sharing is enforced against every other
// opener of this library, in this process or another. A file that cannot be created raises
// EIdFileCreateError, one that cannot be opened EIdFileOpenError; both name the full path
// and give the system's reason.

// Creates the file, or truncates it when it exists; read-write; shared with no one.
class TIdFileCreateStream : public TFileStream {
public:
  explicit TIdFileCreateStream(const std::string& AFile);
  std::string ClassName() const override { return "TIdFileCreateStream"; }
};

// Opens an existing file read-write at its end, others may read but not write; a missing
// file is created as by TIdFileCreateStream.
class TIdAppendFileStream : public TFileStream {
public:
  explicit TIdAppendFileStream(const std::string& AFile);
  std::string ClassName() const override { return "TIdAppendFileStream"; }
};

// Opens an existing file for reading; others may read and write it meanwhile.
class TIdReadFileNonExclusiveStream : public TFileStream {
public:
  explicit TIdReadFileNonExclusiveStream(const std::string& AFile);
  std::string ClassName() const override { return "TIdReadFileNonExclusiveStream"; }
};

// Opens an existing file for reading; others may read but not write it meanwhile.
class TIdReadFileExclusiveStream : public TFileStream {
public:
  explicit TIdReadFileExclusiveStream(const std::string& AFile);
  std::string ClassName() const override { return "TIdReadFileExclusiveStream"; }
};

// A stream whose subclass works on byte arrays only. Read and Write stage each block in one
// array the stream keeps, so a steady flow of blocks allocates nothing after the first.
// A subclass that can take or fill caller memory directly overrides ReadIntoSpan and
// WriteFromSpan as well, and then no block is copied at all.
class TIdBaseStream : public TStream {
public:
  // Reads into an array of ACount bytes (at most 2^31-1 per call), copies out what came.
  int64_t Read(void* ABuffer, int64_t ACount) final;
  // Returns 0 for a count below 1; otherwise passes a copy of the bytes on.
  int64_t Write(const void* ABuffer, int64_t ACount) final;
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) final;
  void SetSize(int64_t ASize) final;

  std::string ClassName() const override { return "TIdBaseStream"; }

protected:
  // Fills up to ACount bytes of VBuffer from AOffset; returns the count filled.
  virtual int32_t ReadIntoBytes(TBytes& VBuffer, int32_t AOffset, int32_t ACount) = 0;
  // Consumes ACount bytes of ABuffer from AOffset; returns the count taken.
  virtual int32_t WriteFromBytes(const TBytes& ABuffer, int32_t AOffset, int32_t ACount) = 0;
  virtual int64_t SeekPosition(int64_t AOffset, TSeekOrigin AOrigin) = 0;
  virtual void ChangeSize(int64_t ASize) = 0;

  // The paths Read and Write take; by default they go through the two array operations.
  // VBuffer and ABuffer are never longer than 2^31-1 bytes. Results are clipped to the span.
  virtual int64_t ReadIntoSpan(std::span<uint8_t> VBuffer);
  virtual int64_t WriteFromSpan(std::span<const uint8_t> ABuffer);

private:
  void ReleaseLargeStage();

  TBytes FStage;
};

// Moves byte arrays in and out of streams. Offsets and counts below are byte counts; a
// negative offset is a programming error and raises EIdAssertionFailure naming the helper.
class TIdStreamHelperVCL {
public:
  // One stream read of ACount bytes (negative: the rest of the stream) into VBytes at
  // AOffset. VBytes is lengthened to AOffset + ACount when shorter, never shortened.
  // Returns the count read, which is smaller than ACount at the end of the stream.
  static int64_t ReadBytes(TStream& AStream, TBytes& VBytes, int64_t ACount = -1,
                           int64_t AOffset = 0);
  // Writes the bytes of ABytes from AOffset, at most ACount of them when ACount is not
  // negative; returns the count written (0 for an empty array or nothing to write).
  static int64_t Write(TStream& AStream, const TBytes& ABytes, int64_t ACount = -1,
                       int64_t AOffset = 0);
  static int64_t Seek(TStream& AStream, int64_t AOffset, TSeekOrigin AOrigin);
};

// ReadBytes at offset 0; AByteCount must fit in 32 bits. Returns the count read.
int64_t ReadBytesFromStream(TStream& AStream, TBytes& VBytes, int64_t AByteCount);
// Writes ASize bytes (-1: all) of ABytes from AIndex, completely or raising EIdStreamError.
void WriteBytesToStream(TStream& AStream, const TBytes& ABytes, int64_t ASize = -1,
                        int64_t AIndex = 0);

} // namespace ftpc
