// The message queues of this process's threads (messages.cpp).
#ifndef WINSIM_THREAD_QUEUE_H
#define WINSIM_THREAD_QUEUE_H

namespace winsim {

// Gives the calling thread its queue if it has none yet, as creating a window does.
void MakeThreadQueue();

}  // namespace winsim

#endif
