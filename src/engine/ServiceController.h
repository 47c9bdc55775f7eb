// One of the player's background services: whether it exists, stopping it,
// and running its program with a command.
#pragma once

#include <cstdint>

#include "foundation/MString.h"

class HostCallbacks;

class ServiceController {
 public:
  ServiceController(HostCallbacks* host, MString program, MString serviceName, MString displayName);

  // Opens the manager (1101 when it cannot) and the service.
  bool ServiceExists() const;
  // Stops the service, following it while it stops but never longer than
  // 30 s; false only when it cannot be opened or refuses the stop (1106).
  bool StopService() const;
  // The program with "-uninstall", waited for at most 6 s.
  bool UninstallService() const;
  // The program with one argument, waited for at most 10 minutes.
  bool RunCommand(const MString& argument) const;
  bool EnableAnalytics() const { return RunCommand(MString(u"-enableAnalytics")); }
  // The update service's modes 0 to 6 (anything else: 1118, false); the
  // notification step registers the plugin types' notifier tasks for the
  // types in the host's flags, without changing the result.
  bool SetUpdateMode(uint32_t mode) const;

  const MString& Program() const { return program_; }

 private:
  bool Run(const MString& argument, uint32_t waitMs, uint32_t failureCode) const;

  HostCallbacks* host_;
  MString program_;
  MString serviceName_;
  MString displayName_;
};

// The update service's controller, for its program at `program`.
ServiceController UpdateServiceController(HostCallbacks* host, const MString& program);
