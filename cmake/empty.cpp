// Keeps a subsystem library buildable while its folder is still empty.
