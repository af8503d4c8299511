// The main() of the layer check programs: each links one folder library whole, with only the
// libraries it declares, so that a call into a layer it does not link fails to link.
int main()
{
    return 0;
}
