// The program of a layer's link check (VarnLayerCheck.cmake): everything is
// in the library linked whole; this only gives the link its entry point.
int main()
{
    return 0;
}
