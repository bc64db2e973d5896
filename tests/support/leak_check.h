// Death tests that end the process on purpose (the machine's kill message
// exits) leave the objects they made behind; the leak check at exit of such a
// child process would turn its clean exit into a failure. A test calls
// skip_leak_check_at_exit() inside the statement that ends the process.
#ifndef TESTS_SUPPORT_LEAK_CHECK_H
#define TESTS_SUPPORT_LEAK_CHECK_H

void skip_leak_check_at_exit();

#endif
