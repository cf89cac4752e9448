// tessel: measures parallel I/O throughput through POSIX, MPI-IO and HDF5.
int main()
{
    return 0;
}
