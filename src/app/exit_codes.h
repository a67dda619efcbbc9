// The process exit codes, the ones Windows Installer itself uses, so that a
// deployment script or an autorun launcher can tell how the setup ended.
#pragma once

// The setup reached its end (also the clean-up run of a temporary copy).
constexpr int kExitSuccess = 0;
// ERROR_INSTALL_USEREXIT: the user cancelled before anything was installed.
constexpr int kExitUserCancel = 1602;
// ERROR_INSTALL_FAILURE: the setup ended on a failure.
constexpr int kExitFailure = 1603;
// ERROR_SUCCESS_REBOOT_REQUIRED: a restart is under way, or the product is
// installed but the restart it needs was declined or could not be made.
constexpr int kExitRestartRequired = 3010;
