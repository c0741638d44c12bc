#pragma once
// Scheduling of the calling thread.

namespace gifanim::platform {

// Lowers the calling thread's priority a little below the process's threads, so that it runs on
// what they leave: for helper threads whose work a thread of normal priority waits to hand them.
// Failure is no error: the thread then keeps its priority.
void lower_thread_priority();

}  // namespace gifanim::platform
