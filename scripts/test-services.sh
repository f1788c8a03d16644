# Services the tests need, started on loopback for the length of one test run.
start_test_services() {
  :
}
