// Seekable byte streams with 64-bit sizes: the abstract TStream, an in-memory stream and a
// file stream over a POSIX descriptor.
#pragma once

#include <cstdint>
#include <string>

#include "global/IdGlobal.h"

namespace ftpc {

enum TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

FTPC_DECLARE_EXCEPTION(EIdStreamError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdFileStreamError, EIdStreamError);

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

// A stream over an open file descriptor, which it owns and closes.
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
  int FHandle;
  std::string FFileName;
};

} // namespace ftpc
