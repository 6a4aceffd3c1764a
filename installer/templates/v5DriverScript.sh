# v5DriverScript - hands a spooler's job to the print driver "v5driver".
# The spooler named in the flag file decides how the call is read; LPRng and
# BSD queues do not use this driver.

ToolPath="%s"
CfgFlags=`cat ${ToolPath}/.%sp_cfg 2>/dev/null`

flConfig=
for flWord in $CfgFlags
do
	case "$flWord" in
	LPRng|V5|AIX|BSD|CUPS) flConfig=$flWord ;;
	esac
done

case "${flConfig:-V5}" in
AIX)	# AIX queue back end: the arguments go through unchanged
	cd ${ToolPath}
	${ToolPath}/v5driver -f AIX $* 1>>/dev/null 2>>/dev/null
	exit 0
	;;
LPRng|BSD)	# not served by this driver: nothing to run
	;;
V5)	# System V interface: request-id user title copies options file...
	PATH=/usr/sbin:/usr/bin:/bin
	PRINTER=`basename $0`
	KavlonRequest_id="-o JobID=$1"
	UserName=`printf '%%s\n' "$2" | sed -e "s/@.*//"`
	UserName="-u$UserName"
	Title=
	if [ "_$3" != "_" ]
	then
		Title=`printf '%%s\n' "-t $3" | sed -e "s/###[ 0-9A-z#].*/-t /"`
	fi
	KavlonCopies="-oCopies=$4"
	OptList=$5
	export PATH PRINTER KavlonRequest_id UserName Title KavlonCopies OptList
	shift 5
	OptionList=
	case "`uname -s`" in
	HP-UX)
		if [ "_$OptList" != "_" ]
		then
			OptionList=`printf '%%s\n' "$OptList" | sed -e "s/ -oBSD[A-z0-9].*//g" -e "s/ / -o/g"`
			OptionList=" -o$OptionList"
		fi
		export OptionList
		;;
	SunOS)
		if [ "_$OptList" != "_" ]
		then
			OptionList=`printf '%%s\n' "$OptList" | sed -e "s/flist=['A-z0-9].*//g" -e "s/ / -o/g"`
			OptionList=" -o$OptionList"
		fi
		export OptionList
		;;
	esac
	DISPLAY=${DISPLAY:-:0.0}
	export DISPLAY
	cd ${ToolPath}
	${ToolPath}/v5driver -d${PRINTER} $KavlonCopies $UserName $Title $OptionList $* 1>>/dev/null 2>>/dev/null
	exit 0
	;;
CUPS)	# CUPS: job-id user title copies options [file], the queue in PRINTER
	PATH=/usr/sbin:/usr/bin:/bin
	RequestID="-o JobID=$1"
	UserName=`printf '%%s\n' "-u $2" | sed -e 's/"//g'`
	Title=`printf '%%s\n' "-t $3" | sed -e 's/"//g'`
	Copies="-oCopies=$4"
	OptionList=`printf '%%s\n' "$5" | sed -e "s/ / -o /g"`
	OptionList=`printf '%%s\n' "-o $OptionList" | sed -e 's/"//g'`
	shift 5
	cd ${ToolPath}
	DISPLAY=${DISPLAY:-:0.0}
	export DISPLAY
	${ToolPath}/v5driver -d${PRINTER} $Copies $UserName $Title $OptionList $* 1>>/dev/null 2>>/dev/null
	exit 0
	;;
esac
