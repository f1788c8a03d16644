// The job window classes live in this library.
