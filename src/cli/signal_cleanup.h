// Temporary files in progress, removed when the run is ended by SIGINT,
// SIGTERM or SIGHUP; the process then ends by that same signal, so the shell
// sees the status a user expects from Ctrl-C or kill.
#pragma once

// Installs the handlers. Call once, before any temporary is registered.
void signal_cleanup_install();

// Registers the file name in the folder dir_fd (kept open by the caller until
// the file is forgotten). Returns a slot for signal_cleanup_forget, or -1
// when every slot is taken or the name is too long to register (the run goes
// on; only the clean-up on a signal is lost).
int signal_cleanup_remember(int dir_fd, const char* name);

// The file is complete or removed: a signal no longer touches it.
void signal_cleanup_forget(int slot);
