// Stand-in of the maker's crash-report library. The agent only loads it at start and
// frees it at the end; on this host nothing stands in for what it does once loaded.
