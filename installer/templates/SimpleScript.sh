
KavlonFileSourceDir=`pwd`
export KavlonFileSourceDir

cd %s
exec %s/%s $*
