// qvmctl commands (in progress).
