// Replaced by the serial-port sources.
