// Test support: a private X server for tests that need a real window.
#pragma once
#include <sys/types.h>

#include <string>

#include <opencv2/core.hpp>

namespace orvtest {

struct Xvfb {
  pid_t pid = -1;
  int number = -1;
  std::string display;  // ":N"
  // Starts Xvfb on a free display number; false (with a reason) when it cannot.
  bool Start(std::string* why, int width = 1280, int height = 1024);
  ~Xvfb();
  // Runs a command line with DISPLAY set to this server; returns its standard output.
  std::string Run(const std::string& command, int* exitCode = nullptr) const;
  // Polls for a window whose name matches; returns its id or an empty string.
  std::string FindWindow(const std::string& name, double timeoutSeconds) const;
  cv::Mat Screenshot() const;
};

bool HaveProgram(const std::string& name);

}  // namespace orvtest
