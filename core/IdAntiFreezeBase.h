// The idle-processing hook: a process-wide singleton through which a single-threaded host
// keeps its message loop alive while the main thread blocks in socket operations.
#pragma once

#include <cstdint>

#include "core/IdComponent.h"

namespace ftpc {

class TIdAntiFreezeBase : public TIdBaseComponent {
public:
  // Raises EIdException when another instance exists; otherwise becomes the process-wide one.
  explicit TIdAntiFreezeBase(TIdInitializerComponent* AOwner = nullptr);
  ~TIdAntiFreezeBase() override;

  // The process-wide instance, or null.
  static TIdAntiFreezeBase* Instance();
  // An instance exists, the caller is the main thread, and the instance is active.
  static bool ShouldUse();
  // Runs Process when ShouldUse and (AIdle, or not OnlyWhenIdle, or AOverride).
  static void DoProcess(bool AIdle = false, bool AOverride = false);
  // Sleeps ATimeout ms; with ShouldUse in IdleTimeOut steps, processing after each step.
  static void Sleep(int32_t ATimeout);

  // Runs the host's pending message handling once.
  virtual void Process() = 0;

  bool Active() const { return FActive; }
  void SetActive(bool AValue) { FActive = AValue; }
  bool ApplicationHasPriority() const { return FApplicationHasPriority; }
  void SetApplicationHasPriority(bool AValue) { FApplicationHasPriority = AValue; }
  int32_t IdleTimeOut() const { return FIdleTimeOut; }
  void SetIdleTimeOut(int32_t AValue) { FIdleTimeOut = AValue; }
  bool OnlyWhenIdle() const { return FOnlyWhenIdle; }
  void SetOnlyWhenIdle(bool AValue) { FOnlyWhenIdle = AValue; }

  std::string ClassName() const override { return "TIdAntiFreezeBase"; }

private:
  bool FActive = true;
  bool FApplicationHasPriority = true;
  int32_t FIdleTimeOut = 250;
  bool FOnlyWhenIdle = true;
};

} // namespace ftpc
