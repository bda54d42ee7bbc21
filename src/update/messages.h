// The texts the operator sees during an update.
#pragma once

// The texts the operator sees during an update, word for word.
namespace morven::msg {

inline constexpr const char *UpdateMode = "Enter Update mode,first step Erase flash,second step Download!";
inline constexpr const char *UserProgram = "Run user program!";
inline constexpr const char *EraseFailure = "Erase flash failure,please try again!";
inline constexpr const char *EraseSuccess = "Erase flash success!";
inline constexpr const char *EraseCheckEmpty = "Erase flash success,but check empty error! please try again!";
inline constexpr const char *UpdateSuccess = "Update program success,please reset power!";
inline constexpr const char *UpdateFailure = "Update program failure, please reset power and try again !!";
inline constexpr const char *OpenFileFirst = "Please open the file to download!";
inline constexpr const char *PowerUp = "Please power up!";

} // namespace morven::msg
