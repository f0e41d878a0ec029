// Only its resources matter: the res: protocol loads this file as data and never runs it.
int main()
{
    return 0;
}
