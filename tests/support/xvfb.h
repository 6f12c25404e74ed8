// Test support: a private X server for tests that need a real window.
#pragma once
#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>

#include <opencv2/core.hpp>

namespace orvtest {

// The server picks its own free display number and reports it once it accepts clients
// (Xvfb -displayfd), so two test runs on one machine can never take each other's server;
// it accepts only clients holding the cookie of its own authority file.
struct Xvfb {
  pid_t pid = -1;
  int number = -1;
  std::string display;    // ":N"
  std::string authority;  // the private authority file (XAUTHORITY of every client)
  // Starts the server; false (with a reason) when it cannot.
  bool Start(std::string* why, int width = 1280, int height = 1024);
  ~Xvfb();
  Xvfb() = default;
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  // DISPLAY and XAUTHORITY for a process that talks to this server.
  std::map<std::string, std::string> Env() const;
  // Runs a command line with this server's environment; returns its standard output.
  std::string Run(const std::string& command, int* exitCode = nullptr) const;
  // Polls for a window whose name matches; returns its id or an empty string.
  std::string FindWindow(const std::string& name, double timeoutSeconds) const;
  cv::Mat Screenshot() const;

 private:
  std::filesystem::path dir_;  // holds the authority file; removed with the server
};

bool HaveProgram(const std::string& name);

}  // namespace orvtest
