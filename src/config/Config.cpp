// The settings dialogs live in this library.
