// The function list: OpenCV's licence notice, the key list and the learning keys.
#include <cstdio>
#include <string>

#include <opencv2/core/version.hpp>

#include "common/platform.h"
#include "player/player_state.h"
#include "control/control.h"
#include "control/teaching.h"

namespace orv {

void ShowFunctionList() {
  struct ListLine {
    const char* japanese;
    const char* english;
    bool blankAfter;
    bool countingOnly;
  };
  static const ListLine kLines[] = {
#include "control/function_list_texts.inc"
  };
  const std::string rule78(78, '-');
  const std::string rule80 = " " + std::string(80, '-');

  std::printf("\n");
#if CV_VERSION_MAJOR > 4 || (CV_VERSION_MAJOR == 4 && CV_VERSION_MINOR >= 5)
  std::printf(" %s\n", rule78.c_str());
  std::printf(" OpenCV %s -- Open Source Computer Vision Library\n", CV_VERSION);
  std::printf(" %s\n", rule78.c_str());
  std::printf(" Licensed under the Apache License, Version 2.0 (the \"License\");\n");
  std::printf(" you may not use this file except in compliance with the License.\n");
  std::printf(" You may obtain a copy of the License at\n\n");
  std::printf("     http://www.apache.org/licenses/LICENSE-2.0\n\n");
  std::printf(" Unless required by applicable law or agreed to in writing, software\n");
  std::printf(" distributed under the License is distributed on an \"AS IS\" BASIS,\n");
  std::printf(" WITHOUT WARRANTIES OR CONDITIONS OF ANY KIND, either express or implied.\n");
  std::printf(" See the License for the specific language governing permissions and\n");
  std::printf(" limitations under the License.\n");
#else
  std::printf(" %s\n", rule78.c_str());
  std::printf(" OpenCV %s -- License Agreement (3-clause BSD License)\n", CV_VERSION);
  std::printf(" %s\n", rule78.c_str());
  std::printf(" Redistribution and use in source and binary forms, with or without modification,\n");
  std::printf(" are permitted provided that the following conditions are met:\n");
  std::printf("  * Redistributions of source code must retain the above copyright notice,\n");
  std::printf("    this list of conditions and the following disclaimer.\n");
  std::printf("  * Redistributions in binary form must reproduce the above copyright notice,\n");
  std::printf("    this list of conditions and the following disclaimer in the documentation\n");
  std::printf("    and/or other materials provided with the distribution.\n");
  std::printf("  * Neither the names of the copyright holders nor the names of the contributors\n");
  std::printf("    may be used to endorse or promote products derived from this software\n");
  std::printf("    without specific prior written permission.\n");
  std::printf(" This software is provided by the copyright holders and contributors \"as is\" and\n");
  std::printf(" any express or implied warranties are disclaimed. In no event shall copyright\n");
  std::printf(" holders or contributors be liable for any direct, indirect, incidental, special,\n");
  std::printf(" exemplary, or consequential damages arising in any way out of the use of this\n");
  std::printf(" software, even if advised of the possibility of such damage.\n");
#endif
  std::printf("\n%s\n", rule80.c_str());

  const bool counting = player.MotionCountOff == 0;
  const bool japanese = JapaneseMessages();
  auto text = [&](const ListLine& l) { return japanese ? l.japanese : l.english; };
  std::printf("\n%s\n\n%s\n", text(kLines[0]), rule80.c_str());
  for (size_t i = 1; i < sizeof kLines / sizeof kLines[0]; ++i) {
    const ListLine& l = kLines[i];
    if (l.countingOnly && !counting) {
      // The group's closing blank line stays when H and B are hidden.
      if (l.blankAfter) std::printf("\n");
      continue;
    }
    std::printf("%s\n", text(l));
    if (l.blankAfter) std::printf("\n");
  }
  std::printf("%s\n\n", rule80.c_str());

  if (player.CameraOn) {
    const std::string stars = " " + std::string(80, '*');
    std::printf("%s\n%s\n", stars.c_str(), stars.c_str());
    std::printf(" ***************************[ WEB CAMERA IS TURNED ON ]**************************\n");
    std::printf("%s\n%s\n\n", stars.c_str(), stars.c_str());
  }
  ShowLearningKeys();
}

}  // namespace orv
